#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/run.h"
#include "console/identity.h"
#include "console/setting_tables.h"
#include "link/gbk.h"

namespace kbc::cli {
namespace {

constexpr std::string_view kHead = R"(Usage: kbcctl [OPTION]... COMMAND [TEXT]
  or:  kbcctl [OPTION]... list [--json]
Manage a KBC-Q7 body-worn video recorder over USB. Each COMMAND is one button of the
settings console; what the recorder answers is printed one line per report. list shows
every recorder on the bus: its location, a tab and its serial number ('-' when unknown).

Options:
      --device LOCATION     the recorder at LOCATION, as list shows it (001/005)
      --serial SERIAL       the recorder whose serial number is SERIAL; the recorders are
                            asked for theirs first
      --simulate[=N]        use N built-in simulated recorders (1 without N; serial
                            numbers KBC0001001, KBC0002001, ...) instead of the USB bus;
                            they start from their defaults on every run
      --password-file FILE  read the password from the first line of FILE ('-' for
                            standard input); passwd reads the old password, the new one
                            and the new one again from lines 2 to 4
  -y, --yes                 answer Yes to both questions of erase
  -v, --verbose             write the link's trace lines to standard error
      --json                info: print the record as one JSON object with the keys
                            serial_number, user_number, user_name, unit_number, unit_name;
                            list: print a JSON array of {"location":..., "serial":...}
  -h, --help                show this help and exit
      --version             show the version and exit

Commands:
  list              every recorder on the bus: its location and serial number
)";

constexpr std::string_view kTail = R"(
TEXT is a list item exactly as shown above, or the text for the field. Any other item, a
longer text, a character GBK cannot encode or, for the two numbers, anything but ASCII
letters and digits is refused before anything is sent.

Passwords are never taken from the command line. The password comes from the first line
of --password-file, else from the environment variable KBC_PASSWORD, else from a prompt
without echo on the terminal. passwd asks for its three passwords the same way: lines 2
to 4 of the file, or three prompts.

erase asks its two questions on the terminal; --yes answers both Yes. Without a terminal
and without --yes both are answered No.

With one recorder on the bus a command talks to it. With several, choose one with
--device or --serial; without a choice no command is sent to any of them.

Exit status:
  0  the command's success report was produced; list always
  1  the command reported a failure
  2  usage error: bad arguments, password file or no terminal; nothing was sent
  3  several recorders and none chosen, or --serial matched none or several; the
     recorders are listed on standard error and nothing but their serial numbers was asked
)";

std::string padded(std::string text, std::size_t width) {
  text.resize(std::max(text.size(), width), ' ');
  return text;
}

// The accepted texts under the command, wrapped before the 80th column.
std::string accepted_texts(const Command& command) {
  constexpr std::size_t kIndent = 20, kWidth = 80;
  std::vector<std::string> items;
  if (command.text == TextKind::item) {
    for (const console::Setting& row : console::setting_button(command.button)->rows) {
      items.emplace_back(row.text);
    }
  } else {
    items.push_back("up to " + std::to_string(console::identity_button(command.button)->max_bytes) +
                    " GBK bytes");
  }
  std::string text, line;
  for (const std::string& item : items) {
    const std::string next = line.empty() ? item : line + " | " + item;
    if (!line.empty() && kIndent + link::gbk_size(next).value_or(next.size()) >= kWidth) {
      text += std::string(kIndent, ' ') + line + " |\n";
      line = item;
    } else {
      line = next;
    }
  }
  return text + std::string(kIndent, ' ') + line + '\n';
}

}  // namespace

std::string help_text() {
  std::string text(kHead);
  for (const Command& command : commands()) {
    const bool takes_text = command.text != TextKind::none;
    text += "  " + padded(std::string(command.name) + (takes_text ? " TEXT" : ""), 18);
    text += command.summary;
    text += '\n';
    if (takes_text) {
      text += accepted_texts(command);
    }
  }
  text += kTail;
  return text;
}

}  // namespace kbc::cli
