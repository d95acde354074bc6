// The settings buttons as data: which list each reads, how it is guarded, and the command and
// report for every item of its list.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "console/handler.h"
#include "link/command_table.h"

namespace kbc::console {

// The argument of set_voice_prompt; the other settings carry none.
enum class Switch : std::uint8_t { none, on, off };

struct Setting {
  std::string_view text;  // the list item, compared byte for byte
  link::Cmd cmd;
  Switch argument;
  std::string_view success;
  std::string_view refused = {};  // set_motion_on only: the recorder refused while pre-recording
};

struct SettingButton {
  int button;
  int list;
  Sequence sequence;
  std::string_view nothing_chosen;
  std::span<const Setting> rows;  // in the list's item order
};

std::span<const SettingButton> setting_buttons();
// The row for this button id; nullptr when the id is no settings button.
const SettingButton* setting_button(int button);
// The row whose text equals the selection; nullptr when none does.
const Setting* find_setting(const SettingButton& button, std::string_view selection);

// Sends the row's command.
link::Status send_setting(link::Device& device, const Setting& setting);
// The status that means the recorder carried the row's command out.
link::Status success_status(const Setting& setting);

}  // namespace kbc::console
