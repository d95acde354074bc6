#include "command_table.h"

#include <algorithm>

namespace kbc::link {
namespace {

constexpr CommandSpec row(Cmd cmd, char letter, std::string_view name, ArgKind arg,
                          std::uint8_t payload, std::optional<std::uint8_t> code,
                          std::uint8_t reply, Statuses statuses) {
  return {cmd, letter, name, arg, payload, code, reply, statuses, std::nullopt, std::nullopt};
}

constexpr CommandSpec setting(Cmd cmd, char letter, std::string_view name, std::uint8_t code,
                              Statuses statuses) {
  return row(cmd, letter, name, ArgKind::none, 18, code, 12, statuses);
}

constexpr std::array<CommandSpec, kCommandCount> make_table() {
  using enum Cmd;
  using A = ArgKind;
  std::array<CommandSpec, kCommandCount> t = {{
      row(check_normal_psw, '-', "check_normal_psw", A::password, 18, 1, 12, {130, 131}),
      row(check_admin_psw, '3', "check_admin_psw", A::password, 18, 79, 12, {246, 247}),
      row(read_psw_status, 'E', "read_psw_status", A::password, 18, 67, 12, {275, 276}),
      row(set_time, '6', "set_time", A::time_text, 18, 4, 12, {132, 133}),
      row(switch_msdc, '2', "switch_msdc", A::password, 18, std::nullopt, 12, {1, 0}),
      row(clear_all_files, 'N', "clear_all_files", A::none, 18, 21, 12, {150, 151}),
      row(set_normal_psw, '4', "set_normal_psw", A::password, 18, 2, 12, {129, 17}),
      row(set_admin_psw, '_', "set_admin_psw", A::password, 18, 80, 12, {246, 247}),
      row(set_identity, '{', "set_identity", A::identity_record, 128, 83, 12, {253, 254}),
      row(get_device_info, '}', "get_device_info", A::free_text, 18, 84, 128, {255, 256}),
      row(get_sn, 'J', "get_sn", A::none, 18, 16, 12, {176, 177}),
      row(set_officer_info, 'F', "set_officer_info", A::officer_identifier, 32, 13, 12, {146, 147}),
      setting(set_video_2304x1296, 'T', "set_video_2304x1296", 27, {138, 139}),
      setting(set_video_1080p60, 'W', "set_video_1080p60", 30, {140, 141}),
      setting(set_video_1080p30, 'H', "set_video_1080p30", 14, {259, 260}),
      setting(set_video_720p60, 'S', "set_video_720p60", 26, {166, 167}),
      setting(set_video_720p30, 'M', "set_video_720p30", 19, {265, 266}),
      setting(set_video_848x480, 'K', "set_video_848x480", 17, {263, 264}),
      setting(set_segment_5min, 'q', "set_segment_5min", 53, {180, 181}),
      setting(set_segment_10min, 'r', "set_segment_10min", 54, {182, 183}),
      setting(set_segment_15min, 's', "set_segment_15min", 55, {184, 185}),
      setting(set_segment_30min, 'x', "set_segment_30min", 60, {186, 187}),
      setting(set_segment_off, 'Y', "set_segment_off", 32, {188, 189}),
      setting(set_photo_4m, 'f', "set_photo_4m", 43, {152, 153}),
      setting(set_photo_16m, 'R', "set_photo_16m", 24, {162, 163}),
      setting(set_photo_20m, '[', "set_photo_20m", 25, {164, 165}),
      setting(set_photo_32m, 'n', "set_photo_32m", 51, {158, 159}),
      setting(set_brightness_high, '=', "set_brightness_high", 72, {220, 221}),
      setting(set_brightness_mid, '%', "set_brightness_mid", 73, {222, 223}),
      setting(set_brightness_low, '.', "set_brightness_low", 74, {224, 225}),
      setting(set_screen_off_1min, 'A', "set_screen_off_1min", 75, {228, 229}),
      setting(set_screen_off_5min, '<', "set_screen_off_5min", 76, {230, 231}),
      setting(set_screen_off_never, '?', "set_screen_off_never", 78, {234, 235}),
      setting(set_ir_auto, 'u', "set_ir_auto", 57, {200, 201}),
      setting(set_ir_manual, 't', "set_ir_manual", 56, {198, 199}),
      row(set_voice_prompt, ']', "set_voice_prompt", A::on_off, 18, 61, 12, {267, 268}),
      setting(set_motion_on, '0', "set_motion_on", 81, {248, 250}),
      setting(set_motion_off, ',', "set_motion_off", 82, {251, 252}),
  }};
  t[static_cast<std::size_t>(set_voice_prompt)].off_statuses = Statuses{269, 270};
  t[static_cast<std::size_t>(set_motion_on)].refused = Status{249};
  return t;
}

constexpr auto kTable = make_table();

// Rows are kept in enum order so that a command finds its row by index.
static_assert([] {
  for (std::size_t i = 0; i < kCommandCount; ++i) {
    if (static_cast<std::size_t>(kTable[i].cmd) != i) {
      return false;
    }
  }
  return true;
}());

}  // namespace

constinit const std::array<CommandSpec, kCommandCount> kCommands = kTable;

const CommandSpec& spec(Cmd cmd) {
  return kCommands[static_cast<std::size_t>(cmd)];
}

const CommandSpec* spec_for_letter(char letter) {
  const auto it = std::find_if(kCommands.begin(), kCommands.end(),
                               [letter](const CommandSpec& c) { return c.letter == letter; });
  return it == kCommands.end() ? nullptr : &*it;
}

}  // namespace kbc::link
