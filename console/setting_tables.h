// The settings buttons as data: which list each reads, how it is guarded, and the command and
// report for every item of its list.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "console/handler.h"
#include "console/wording.h"
#include "link/command_table.h"

namespace kbc::console {

// The argument of set_voice_prompt; the other settings carry none.
enum class Switch : std::uint8_t { none, on, off };

struct Setting {
  std::string_view text;   // the list item, compared byte for byte
  std::string_view alias;  // an ASCII name for a Chinese item, for the command line and profiles
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
// The row an item is given by where it is typed rather than picked: its text, or its alias in any
// case. nullptr when none is.
const Setting* find_item(const SettingButton& button, std::string_view typed);
// Why a typed item is refused ("'1080p' is no item of the list; one of: ..."), nullopt when a row
// has it.
std::optional<Wording> item_refusal(const SettingButton& button, std::string_view typed);

// Sends the row's command.
link::Status send_setting(link::Device& device, const Setting& setting);
// The status that means the recorder carried the row's command out.
link::Status success_status(const Setting& setting);
// How the recorder took a row's command.
enum class Sent {
  done,
  refused,  // set_motion_on while pre-recording: nothing changed
  failed,
};

// Sends the row's command and makes the report its button makes: the row's success text, its
// refusal, or "重新连接!".
Sent send_and_report(const Call& call, const Setting& setting);

}  // namespace kbc::console
