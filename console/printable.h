// Text that comes from the recorder, made safe to show as one line of text: nothing in it can move
// the cursor, set a terminal's title, hide what follows or start a new line. The window's pane and
// kbcctl both show recorder text through it; the bytes themselves (--json) stay as they are.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kbc::console {

// UTF-8 with every character that is not plain text shown as an escape:
//   C0 controls and DEL        \x1b, \x0a, \x7f
//   C1 controls                \u009b
//   line and paragraph breaks  \u2028, \u2029
//   bidirectional overrides    \u202e, \u2066, ... (they reorder what the line seems to say)
//   a byte that is not UTF-8   \xff
//   the backslash itself       \\  (so that an escape cannot be told from typed text)
std::string printable(std::string_view utf8);

// "记录仪 KBC0001 (001/005):", as the pane names a recorder before its reports; the serial
// number is not known when nullopt.
std::string recorder_heading(std::string_view location, const std::optional<std::string>& serial);

}  // namespace kbc::console
