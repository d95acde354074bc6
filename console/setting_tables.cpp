#include "console/setting_tables.h"

#include <algorithm>
#include <array>

#include "console/control_ids.h"
#include "console/messages.h"
#include "link/commands.h"

namespace kbc::console {
namespace {

using link::Cmd;

// The aliases are lower case.
char ascii_lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr std::array kVideo{
    Setting{"2304X1296(30)", "", Cmd::set_video_2304x1296, Switch::none, msg::video_2304x1296},
    Setting{"1920X1080(60)", "", Cmd::set_video_1080p60, Switch::none, msg::video_1080p60},
    Setting{"1920X1080(30)", "", Cmd::set_video_1080p30, Switch::none, msg::video_1080p30},
    Setting{"1280X720(60)", "", Cmd::set_video_720p60, Switch::none, msg::video_720p60},
    Setting{"1280X720(30)", "", Cmd::set_video_720p30, Switch::none, msg::video_720p30},
    Setting{"848X480(30)", "", Cmd::set_video_848x480, Switch::none, msg::video_848x480},
};

constexpr std::array kSegment{
    Setting{"5分钟", "5min", Cmd::set_segment_5min, Switch::none, msg::segment_5min},
    Setting{"10分钟", "10min", Cmd::set_segment_10min, Switch::none, msg::segment_10min},
    Setting{"15分钟", "15min", Cmd::set_segment_15min, Switch::none, msg::segment_15min},
    Setting{"30分钟", "30min", Cmd::set_segment_30min, Switch::none, msg::segment_30min},
    Setting{"关闭", "off", Cmd::set_segment_off, Switch::none, msg::segment_off},
};

constexpr std::array kPhoto{
    Setting{"2688X1512", "", Cmd::set_photo_4m, Switch::none, msg::photo_4m},
    Setting{"5376X3024", "", Cmd::set_photo_16m, Switch::none, msg::photo_16m},
    Setting{"6016X3384", "", Cmd::set_photo_20m, Switch::none, msg::photo_20m},
    Setting{"7680X4320", "", Cmd::set_photo_32m, Switch::none, msg::photo_32m},
};

constexpr std::array kBrightness{
    Setting{"高", "high", Cmd::set_brightness_high, Switch::none, msg::brightness_high},
    Setting{"中", "mid", Cmd::set_brightness_mid, Switch::none, msg::brightness_mid},
    Setting{"低", "low", Cmd::set_brightness_low, Switch::none, msg::brightness_low},
};

constexpr std::array kScreenOff{
    Setting{"1分钟", "1min", Cmd::set_screen_off_1min, Switch::none, msg::screen_off_1min},
    Setting{"5分钟", "5min", Cmd::set_screen_off_5min, Switch::none, msg::screen_off_5min},
    Setting{"关闭", "never", Cmd::set_screen_off_never, Switch::none, msg::screen_off_never},
};

constexpr std::array kIr{
    Setting{"手动", "manual", Cmd::set_ir_manual, Switch::none, msg::ir_manual},
    Setting{"自动", "auto", Cmd::set_ir_auto, Switch::none, msg::ir_auto},
};

constexpr std::array kVoice{
    Setting{"打开", "on", Cmd::set_voice_prompt, Switch::on, msg::voice_on},
    Setting{"关闭", "off", Cmd::set_voice_prompt, Switch::off, msg::voice_off},
};

constexpr std::array kMotion{
    Setting{"打开", "on", Cmd::set_motion_on, Switch::none, msg::motion_on, msg::motion_refused},
    Setting{"关闭", "off", Cmd::set_motion_off, Switch::none, msg::motion_off},
};

constexpr Sequence kFullAdmin{PreCheck::full, Gate::admin};

constexpr std::array kButtons{
    SettingButton{idc::video,
                  idc::video_list,
                  {PreCheck::full, Gate::either},
                  msg::choose_resolution,
                  kVideo},
    SettingButton{idc::segment,
                  idc::segment_list,
                  {PreCheck::short_length, Gate::admin},
                  msg::choose_segment,
                  kSegment},
    SettingButton{idc::photo, idc::photo_list, kFullAdmin, msg::choose_resolution, kPhoto},
    SettingButton{idc::brightness, idc::brightness_list, kFullAdmin, msg::choose_brightness,
                  kBrightness},
    SettingButton{idc::screen_off, idc::screen_off_list, kFullAdmin, msg::choose_screen_off,
                  kScreenOff},
    SettingButton{idc::ir, idc::ir_list, kFullAdmin, msg::choose_ir, kIr},
    SettingButton{idc::voice, idc::voice_list, kFullAdmin, msg::choose_voice, kVoice},
    SettingButton{idc::motion, idc::motion_list, kFullAdmin, msg::choose_motion, kMotion},
};

}  // namespace

std::span<const SettingButton> setting_buttons() {
  return kButtons;
}

const SettingButton* setting_button(int button) {
  const auto* row = std::ranges::find(kButtons, button, &SettingButton::button);
  return row == kButtons.end() ? nullptr : row;
}

const Setting* find_setting(const SettingButton& button, std::string_view selection) {
  const auto row = std::ranges::find(button.rows, selection, &Setting::text);
  return row == button.rows.end() ? nullptr : &*row;
}

const Setting* find_item(const SettingButton& button, std::string_view typed) {
  const auto same_alias = [&](const Setting& row) {
    return !row.alias.empty() &&
           std::ranges::equal(row.alias, typed, [](char a, char b) { return a == ascii_lower(b); });
  };
  if (const Setting* row = find_setting(button, typed)) {
    return row;
  }
  const auto row = std::ranges::find_if(button.rows, same_alias);
  return row == button.rows.end() ? nullptr : &*row;
}

std::optional<Wording> item_refusal(const SettingButton& button, std::string_view typed) {
  if (find_item(button, typed) != nullptr) {
    return std::nullopt;
  }
  std::string items;
  for (const Setting& row : button.rows) {
    items += items.empty() ? "" : ", ";
    items += row.text;
    if (!row.alias.empty()) {
      items.append(" (").append(row.alias).append(")");
    }
  }
  std::string quoted(1, '\'');
  quoted.append(typed).append("'");
  return Wording{quoted + " is no item of the list; one of: " + items,
                 quoted + " 不是列表中的选项，可选: " + items};
}

link::Status send_setting(link::Device& device, const Setting& setting) {
  if (setting.argument == Switch::none) {
    return link::run(device, setting.cmd);
  }
  return link::set_voice_prompt(device, setting.argument == Switch::on);
}

link::Status success_status(const Setting& setting) {
  const link::CommandSpec& command = link::spec(setting.cmd);
  if (setting.argument == Switch::off && command.off_statuses) {
    return command.off_statuses->ok;
  }
  return command.statuses.ok;
}

}  // namespace kbc::console
