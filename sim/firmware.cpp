#include "firmware.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <string>
#include <string_view>

#include "link/identity.h"
#include "numbering.h"

namespace kbc::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kReplyLength = 12;  // what an unknown letter gets
constexpr std::size_t kDataOffset = 2;
constexpr std::size_t kSnLength = 10;
constexpr std::size_t kPasswordLength = 6;
constexpr std::uint8_t kNotDone = 0;
constexpr std::uint8_t kDone = 1;
constexpr std::uint8_t kRefused = 2;  // set_motion_on while pre-recording
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
  return done ? kDone : kNotDone;
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
  return kDone;
}

std::uint8_t store_setting(std::string& group, const FirmwareCommand& command) {
  group = command.name;
  return kDone;
}

// Carries out the command on the state, writes its data into the reply, returns the outcome byte.
std::uint8_t carry_out(RecorderState& state, const FirmwareCommand& command,
                       std::span<const std::uint8_t> payload, std::span<std::uint8_t> reply) {
  const std::string_view argument = argument_of(payload);
  switch (command.action) {
    using enum Action;
    case check_normal_password:
      return outcome(argument == state.normal_password);
    case check_admin_password:
      return outcome(argument == state.admin_password);
    case password_status:
      put(reply, kPasswordStatus);
      return kDone;
    case set_clock:
      if (auto digits = clock_digits(argument)) {
        state.clock = std::move(*digits);
        return kDone;
      }
      return kNotDone;
    case mass_storage:
      state.mass_storage = argument == state.normal_password || argument == state.admin_password;
      return outcome(state.mass_storage);
    case erase:
      ++state.erase_count;
      return kDone;
    case set_normal_password:
      return store_password(state.normal_password, argument);
    case set_admin_password:
      return store_password(state.admin_password, argument);
    case write_identity:
      // The record is fixed-width and taken whole, not as a C string.
      state.identity = link::IdentityRecord::from_bytes(payload.subspan<1, link::kIdentitySize>());
      return kDone;
    case read_identity:
      put(reply, state.identity.bytes());
      return kDone;
    case serial_number:
      put(reply, std::string_view(state.sn_text).substr(0, kSnLength));
      return kDone;
    case officer_identifier:
      state.officer_identifier = argument;
      return kDone;
    case video:
      return store_setting(state.video, command);
    case segment:
      return store_setting(state.segment, command);
    case photo:
      return store_setting(state.photo, command);
    case brightness:
      return store_setting(state.brightness, command);
    case screen_off:
      return store_setting(state.screen_off, command);
    case infrared:
      return store_setting(state.ir, command);
    case voice_prompt:
      if (argument != "1" && argument != "0") {
        return kNotDone;
      }
      state.voice_prompt = argument == "1";
      return kDone;
    case motion_on:
      if (state.pre_recording) {
        return kRefused;
      }
      state.motion_detection = true;
      return kDone;
    case motion_off:
      state.motion_detection = false;
      return kDone;
  }
  return kNotDone;
}

}  // namespace

std::optional<Bytes> Firmware::execute(std::span<const std::uint8_t> payload) {
  if (state_.mass_storage) {
    return std::nullopt;
  }
  const char letter = payload.empty() ? '\0' : static_cast<char>(payload.front());
  const FirmwareCommand* command = firmware_command(letter);
  if (command == nullptr) {
    return Bytes(kReplyLength, 0);
  }
  Bytes reply(command->reply_length, 0);
  reply[0] = command->code;
  // A command of another length than the recorder's own is not carried out.
  reply[1] = payload.size() == command->payload_length ? carry_out(state_, *command, payload, reply)
                                                       : kNotDone;
  return reply;
}

}  // namespace kbc::sim
