// The recorder's command set as data: one row per command. Statuses are the program's own values
// for a command's outcome; they never travel on the wire.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kbc::link {

using Status = std::uint16_t;

enum class Cmd : std::uint8_t {
  check_normal_psw,
  check_admin_psw,
  read_psw_status,
  set_time,
  switch_msdc,
  clear_all_files,
  set_normal_psw,
  set_admin_psw,
  set_identity,
  get_device_info,
  get_sn,
  set_officer_info,
  set_video_2304x1296,
  set_video_1080p60,
  set_video_1080p30,
  set_video_720p60,
  set_video_720p30,
  set_video_848x480,
  set_segment_5min,
  set_segment_10min,
  set_segment_15min,
  set_segment_30min,
  set_segment_off,
  set_photo_4m,
  set_photo_16m,
  set_photo_20m,
  set_photo_32m,
  set_brightness_high,
  set_brightness_mid,
  set_brightness_low,
  set_screen_off_1min,
  set_screen_off_5min,
  set_screen_off_never,
  set_ir_auto,
  set_ir_manual,
  set_voice_prompt,
  set_motion_on,
  set_motion_off,
};

inline constexpr std::size_t kCommandCount = 38;

enum class ArgKind : std::uint8_t {
  none,
  password,
  time_text,
  identity_record,
  free_text,
  officer_identifier,
  on_off,
};

struct Statuses {
  Status ok;
  Status fail;
};

struct CommandSpec {
  Cmd cmd;
  char letter;
  std::string_view name;
  ArgKind arg;
  std::uint8_t payload_length;
  std::optional<std::uint8_t> reply_code;  // nullopt: the reply is not examined (switch_msdc)
  std::uint8_t reply_length;
  Statuses statuses;
  std::optional<Status> refused;         // set_motion_on: outcome 2
  std::optional<Statuses> off_statuses;  // set_voice_prompt with argument "0"
};

inline constexpr std::uint8_t kRequestOut = 0x40;  // host to device, vendor, device
inline constexpr std::uint8_t kRequestIn = 0xC0;   // device to host, vendor, device
inline constexpr std::uint8_t kRequest = 0x55;
inline constexpr std::uint16_t kValue = 0x00AA;
inline constexpr std::uint16_t kIndex = 0;
inline constexpr std::uint8_t kOutcomeDone = 1;
inline constexpr std::uint8_t kOutcomeRefused = 2;

extern const std::array<CommandSpec, kCommandCount> kCommands;

const CommandSpec& spec(Cmd cmd);
// The row whose letter is this one; nullptr for a letter that is no command.
const CommandSpec* spec_for_letter(char letter);

}  // namespace kbc::link
