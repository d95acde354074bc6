#include "numbering.h"

#include <algorithm>
#include <array>

namespace kbc::sim {
namespace {

using enum Action;

constexpr FirmwareCommand setting(char letter, std::string_view name, std::uint8_t code,
                                  Action action) {
  return {letter, name, code, 18, 12, action};
}

// In the order of the recorder's command list.
constexpr std::array kCommands{
    FirmwareCommand{'-', "check_normal_psw", 1, 18, 12, check_normal_password},
    FirmwareCommand{'3', "check_admin_psw", 79, 18, 12, check_admin_password},
    FirmwareCommand{'E', "read_psw_status", 67, 18, 12, password_status},
    FirmwareCommand{'6', "set_time", 4, 18, 12, set_clock},
    // The recorder leaves the protocol at once; what it puts in byte 0 nobody reads.
    FirmwareCommand{'2', "switch_msdc", 0, 18, 12, mass_storage},
    FirmwareCommand{'N', "clear_all_files", 21, 18, 12, erase},
    FirmwareCommand{'4', "set_normal_psw", 2, 18, 12, set_normal_password},
    FirmwareCommand{'_', "set_admin_psw", 80, 18, 12, set_admin_password},
    FirmwareCommand{'{', "set_identity", 83, 128, 12, write_identity},
    FirmwareCommand{'}', "get_device_info", 84, 18, 128, read_identity},
    FirmwareCommand{'J', "get_sn", 16, 18, 12, serial_number},
    FirmwareCommand{'F', "set_officer_info", 13, 32, 12, officer_identifier},
    setting('T', "set_video_2304x1296", 27, video),
    setting('W', "set_video_1080p60", 30, video),
    setting('H', "set_video_1080p30", 14, video),
    setting('S', "set_video_720p60", 26, video),
    setting('M', "set_video_720p30", 19, video),
    setting('K', "set_video_848x480", 17, video),
    setting('q', "set_segment_5min", 53, segment),
    setting('r', "set_segment_10min", 54, segment),
    setting('s', "set_segment_15min", 55, segment),
    setting('x', "set_segment_30min", 60, segment),
    setting('Y', "set_segment_off", 32, segment),
    setting('f', "set_photo_4m", 43, photo),
    setting('R', "set_photo_16m", 24, photo),
    setting('[', "set_photo_20m", 25, photo),
    setting('n', "set_photo_32m", 51, photo),
    setting('=', "set_brightness_high", 72, brightness),
    setting('%', "set_brightness_mid", 73, brightness),
    setting('.', "set_brightness_low", 74, brightness),
    setting('A', "set_screen_off_1min", 75, screen_off),
    setting('<', "set_screen_off_5min", 76, screen_off),
    setting('?', "set_screen_off_never", 78, screen_off),
    setting('u', "set_ir_auto", 57, infrared),
    setting('t', "set_ir_manual", 56, infrared),
    setting(']', "set_voice_prompt", 61, voice_prompt),
    setting('0', "set_motion_on", 81, motion_on),
    setting(',', "set_motion_off", 82, motion_off),
};

}  // namespace

std::span<const FirmwareCommand> firmware_commands() {
  return kCommands;
}

const FirmwareCommand* firmware_command(char letter) {
  const auto* row = std::ranges::find(kCommands, letter, &FirmwareCommand::letter);
  return row == kCommands.end() ? nullptr : row;
}

}  // namespace kbc::sim
