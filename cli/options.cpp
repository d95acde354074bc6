#include "cli/options.h"

#include <algorithm>
#include <array>
#include <vector>

#include "console/control_ids.h"
#include "console/identity.h"
#include "console/setting_tables.h"

namespace kbc::cli {
namespace {

constexpr std::array kCommands{
    Command{"verify", idc::verify, TextKind::none,
            "verify the password and set the recorder's clock to this computer's"},
    Command{"msdc", idc::msdc, TextKind::none, "switch the recorder to USB mass storage"},
    Command{"erase", idc::erase, TextKind::none, "erase every file on the recorder"},
    Command{"passwd", idc::change_password, TextKind::none,
            "change the password given (administrator or normal)"},
    Command{"info", idc::device_info, TextKind::none, "show the recorder's identity record"},
    Command{"video", idc::video, TextKind::item, "video resolution"},
    Command{"segment", idc::segment, TextKind::item, "recording segment length"},
    Command{"photo", idc::photo, TextKind::item, "photo resolution"},
    Command{"brightness", idc::brightness, TextKind::item, "screen brightness"},
    Command{"screen-off", idc::screen_off, TextKind::item, "screen-off time"},
    Command{"ir", idc::ir, TextKind::item, "infrared mode"},
    Command{"voice", idc::voice, TextKind::item, "voice prompts"},
    Command{"motion", idc::motion, TextKind::item, "motion detection"},
    Command{"unit-number", idc::unit_number, TextKind::field,
            "unit number, ASCII letters and digits only"},
    Command{"unit-name", idc::unit_name, TextKind::field, "unit name"},
    Command{"user-number", idc::user_number, TextKind::field,
            "user number, ASCII letters and digits only"},
    Command{"user-name", idc::user_name, TextKind::field, "user name"},
};

constexpr std::string_view kNoPasswordOption =
    "there is no password option: other users can read the command line; use --password-file, "
    "KBC_PASSWORD or the prompt";

constexpr std::array<std::string_view, 6> kFlags{"--help", "--version", "--simulate",
                                                 "--yes",  "--verbose", "--json"};

Parsed usage_error(std::string error) {
  return {Parsed::Action::usage_error, {}, std::move(error)};
}

// The option's name without any "=value", so that a value is never echoed back.
std::string_view option_name(std::string_view arg) {
  return arg.substr(0, arg.find('='));
}

bool names_password(std::string_view name) {
  return name == "-p" || (name.starts_with("--pass") && name != "--password-file");
}

}  // namespace

std::span<const Command> commands() {
  return kCommands;
}

const Command* find_command(std::string_view name) {
  const auto* row = std::ranges::find(kCommands, name, &Command::name);
  return row == kCommands.end() ? nullptr : row;
}

int text_control(const Command& command) {
  switch (command.text) {
    case TextKind::none:
      return 0;
    case TextKind::item:
      return console::setting_button(command.button)->list;
    case TextKind::field:
      return console::identity_button(command.button)->text_field;
  }
  return 0;
}

Parsed parse_arguments(std::span<const std::string> args) {
  Parsed parsed{Parsed::Action::run, {}, {}};
  Options& options = parsed.options;
  std::vector<std::string_view> operands;
  bool options_ended = false;

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (options_ended || arg == "-" || !arg.starts_with('-')) {
      operands.push_back(arg);
    } else if (arg == "--") {
      options_ended = true;
    } else if (arg == "--help") {
      parsed.action = Parsed::Action::help;
      return parsed;
    } else if (arg == "--version") {
      parsed.action = Parsed::Action::version;
      return parsed;
    } else if (arg == "--simulate") {
      options.simulate = true;
    } else if (arg == "--yes") {
      options.yes = true;
    } else if (arg == "--verbose") {
      options.verbose = true;
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--password-file") {
      if (i + 1 == args.size() || args[i + 1].empty()) {
        return usage_error("--password-file needs a FILE ('-' for standard input)");
      }
      options.password_file = args[++i];
    } else if (arg.starts_with("--password-file=")) {
      const std::string_view file = arg.substr(arg.find('=') + 1);
      if (file.empty()) {
        return usage_error("--password-file needs a FILE ('-' for standard input)");
      }
      options.password_file = std::string(file);
    } else if (names_password(option_name(arg))) {
      return usage_error(std::string(kNoPasswordOption));
    } else if (arg.starts_with("--")) {
      const std::string name(option_name(arg));
      const bool flag = std::ranges::find(kFlags, name) != kFlags.end();
      return usage_error(flag ? name + " takes no value" : "unknown option '" + name + "'");
    } else {
      // Bundled short flags, as in "-yv".
      for (const char flag : arg.substr(1)) {
        if (flag == 'y') {
          options.yes = true;
        } else if (flag == 'v') {
          options.verbose = true;
        } else if (flag == 'h') {
          parsed.action = Parsed::Action::help;
          return parsed;
        } else if (flag == 'p') {
          return usage_error(std::string(kNoPasswordOption));
        } else {
          return usage_error("unknown option '-" + std::string(1, flag) + "'");
        }
      }
    }
  }

  if (operands.empty()) {
    return usage_error("no COMMAND given");
  }
  options.command = find_command(operands[0]);
  if (options.command == nullptr) {
    return usage_error("unknown command '" + std::string(operands[0]) + "'");
  }
  const std::string name(options.command->name);
  const bool takes_text = options.command->text != TextKind::none;
  if (takes_text && operands.size() < 2) {
    return usage_error(name + " needs a TEXT");
  }
  if (operands.size() > (takes_text ? 2u : 1u)) {
    return usage_error(takes_text ? name + " takes one TEXT only" : name + " takes no TEXT");
  }
  if (takes_text) {
    options.text = operands[1];
  }
  if (options.json && options.command->button != idc::device_info) {
    return usage_error("--json goes with info only");
  }
  return parsed;
}

}  // namespace kbc::cli
