// The recorder's own numbering of its commands, as its firmware knows them: the letter it takes,
// the number it answers with, and the lengths of both. Written out here, apart from the link's
// table, so that a wrong letter, code or length on either side shows as a failed exchange.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace kbc::sim {

// What the firmware does for a command.
enum class Action : std::uint8_t {
  check_normal_password,
  check_admin_password,
  password_status,
  set_clock,
  mass_storage,
  erase,
  set_normal_password,
  set_admin_password,
  write_identity,
  read_identity,
  serial_number,
  officer_identifier,
  video,
  segment,
  photo,
  brightness,
  screen_off,
  infrared,
  voice_prompt,
  motion_on,
  motion_off,
};

struct FirmwareCommand {
  char letter;
  std::string_view name;  // what the settings remember in RecorderState
  std::uint8_t code;      // reply byte 0
  std::uint8_t payload_length;
  std::uint8_t reply_length;
  Action action;
};

std::span<const FirmwareCommand> firmware_commands();
// The row of this letter; nullptr for a letter the firmware does not know.
const FirmwareCommand* firmware_command(char letter);

}  // namespace kbc::sim
