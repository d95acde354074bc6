#include "firmware.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <string>
#include <string_view>

#include "link/command_table.h"
#include "link/identity.h"

namespace kbc::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kReplyLength = 12;  // what an unknown letter gets
constexpr std::size_t kDataOffset = 2;
constexpr std::size_t kSnLength = 10;
constexpr std::size_t kPasswordLength = 6;
constexpr std::uint8_t kNotDone = 0;
constexpr std::string_view kPasswordStatus = "11111";

// Bytes 1 up to the first zero byte: the firmware sees the argument as a C string.
std::string_view argument_of(std::span<const std::uint8_t> payload) {
  if (payload.size() <= 1) {
    return {};
  }
  const auto rest = payload.subspan(1);
  const auto end = std::find(rest.begin(), rest.end(), std::uint8_t{0});
  return {reinterpret_cast<const char*>(rest.data()), static_cast<std::size_t>(end - rest.begin())};
}

std::uint8_t outcome(bool done) {
  return done ? link::kOutcomeDone : kNotDone;
}

void put(std::span<std::uint8_t> reply, std::span<const std::uint8_t> data) {
  if (reply.size() <= kDataOffset) {
    return;
  }
  const auto room = reply.subspan(kDataOffset);
  std::copy_n(data.begin(), std::min(room.size(), data.size()), room.begin());
}

void put(std::span<std::uint8_t> reply, std::string_view text) {
  put(reply, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

int number(std::string_view digits) {
  int value = 0;
  std::from_chars(digits.data(), digits.data() + digits.size(), value);
  return value;
}

// "YYYYMMDDhhmmss\n" naming a real calendar day and time of day; the 14 digits, or nullopt.
std::optional<std::string> clock_digits(std::string_view text) {
  constexpr std::size_t kDigits = 14;
  if (text.size() != kDigits + 1 || text.back() != '\n') {
    return std::nullopt;
  }
  const auto digits = text.substr(0, kDigits);
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  const std::chrono::year_month_day date{std::chrono::year{number(digits.substr(0, 4))},
                                         std::chrono::month(number(digits.substr(4, 2))),
                                         std::chrono::day(number(digits.substr(6, 2)))};
  const int hour = number(digits.substr(8, 2));
  const int minute = number(digits.substr(10, 2));
  const int second = number(digits.substr(12, 2));
  if (!date.ok() || hour > 23 || minute > 59 || second > 59) {
    return std::nullopt;
  }
  return std::string(digits);
}

std::uint8_t store_password(std::string& password, std::string_view argument) {
  if (argument.size() != kPasswordLength) {
    return kNotDone;
  }
  password = argument;
  return link::kOutcomeDone;
}

std::uint8_t store_setting(std::string& group, const link::CommandSpec& command) {
  group = command.name;
  return link::kOutcomeDone;
}

// Carries out the command on the state, writes its data into the reply, returns the outcome byte.
std::uint8_t carry_out(RecorderState& state, const link::CommandSpec& command,
                       std::span<const std::uint8_t> payload, std::span<std::uint8_t> reply) {
  const std::string_view argument = argument_of(payload);
  switch (command.cmd) {
    using enum link::Cmd;
    case check_normal_psw:
      return outcome(argument == state.normal_password);
    case check_admin_psw:
      return outcome(argument == state.admin_password);
    case read_psw_status:
      put(reply, kPasswordStatus);
      return link::kOutcomeDone;
    case set_time:
      if (auto digits = clock_digits(argument)) {
        state.clock = std::move(*digits);
        return link::kOutcomeDone;
      }
      return kNotDone;
    case switch_msdc:
      state.mass_storage = argument == state.normal_password || argument == state.admin_password;
      return outcome(state.mass_storage);
    case clear_all_files:
      ++state.erase_count;
      return link::kOutcomeDone;
    case set_normal_psw:
      return store_password(state.normal_password, argument);
    case set_admin_psw:
      return store_password(state.admin_password, argument);
    case set_identity:
      // The record is fixed-width and taken whole, not as a C string.
      if (payload.size() < 1 + link::kIdentitySize) {
        return kNotDone;
      }
      state.identity = link::IdentityRecord::from_bytes(payload.subspan<1, link::kIdentitySize>());
      return link::kOutcomeDone;
    case get_device_info:
      put(reply, state.identity.bytes());
      return link::kOutcomeDone;
    case get_sn:
      put(reply, std::string_view(state.sn_text).substr(0, kSnLength));
      return link::kOutcomeDone;
    case set_officer_info:
      state.officer_identifier = argument;
      return link::kOutcomeDone;
    case set_video_2304x1296:
    case set_video_1080p60:
    case set_video_1080p30:
    case set_video_720p60:
    case set_video_720p30:
    case set_video_848x480:
      return store_setting(state.video, command);
    case set_segment_5min:
    case set_segment_10min:
    case set_segment_15min:
    case set_segment_30min:
    case set_segment_off:
      return store_setting(state.segment, command);
    case set_photo_4m:
    case set_photo_16m:
    case set_photo_20m:
    case set_photo_32m:
      return store_setting(state.photo, command);
    case set_brightness_high:
    case set_brightness_mid:
    case set_brightness_low:
      return store_setting(state.brightness, command);
    case set_screen_off_1min:
    case set_screen_off_5min:
    case set_screen_off_never:
      return store_setting(state.screen_off, command);
    case set_ir_auto:
    case set_ir_manual:
      return store_setting(state.ir, command);
    case set_voice_prompt:
      if (argument != "1" && argument != "0") {
        return kNotDone;
      }
      state.voice_prompt = argument == "1";
      return link::kOutcomeDone;
    case set_motion_on:
      if (state.pre_recording) {
        return link::kOutcomeRefused;
      }
      state.motion_detection = true;
      return link::kOutcomeDone;
    case set_motion_off:
      state.motion_detection = false;
      return link::kOutcomeDone;
  }
  return kNotDone;
}

}  // namespace

std::optional<Bytes> Firmware::execute(std::span<const std::uint8_t> payload) {
  if (state_.mass_storage) {
    return std::nullopt;
  }
  const char letter = payload.empty() ? '\0' : static_cast<char>(payload.front());
  const link::CommandSpec* command = link::spec_for_letter(letter);
  if (command == nullptr) {
    return Bytes(kReplyLength, 0);
  }
  Bytes reply(command->reply_length, 0);
  // switch_msdc has no number of its own; nobody reads its reply code.
  reply[0] = command->reply_code.value_or(0);
  reply[1] = carry_out(state_, *command, payload, reply);
  return reply;
}

}  // namespace kbc::sim
