#include "cli/options.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <vector>

#include "console/control_ids.h"
#include "console/identity.h"
#include "console/setting_tables.h"
#include "sim/sim_bus.h"

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

constexpr std::array<std::string_view, 12> kFlags{
    "--help",   "--version", "--yes",        "--verbose", "--json",  "--all", "--without-offload",
    "--remote", "--dry-run", "--prometheus", "--once",    "--status"};

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

// An option that takes a value, and where the value goes.
struct Valued {
  std::string_view name;
  std::string_view what;  // for the usage error
  std::optional<std::string> Options::*field;
};

constexpr std::array kValued{
    Valued{"--password-file", "a FILE ('-' for standard input)", &Options::password_file},
    Valued{"--device", "a LOCATION as 'kbcctl list' shows it, such as 001/005", &Options::device},
    Valued{"--serial", "a SERIAL number as 'kbcctl list' shows it", &Options::serial},
    Valued{"--since", "a TIME such as 2026-12-08, '2026-12-08 14:30', today, yesterday or -2h",
           &Options::since},
    Valued{"--from", "a PATH: the recorder's disk (a block device or an image) or a mounted folder",
           &Options::from},
    Valued{"--store", "a DIR, the evidence store", &Options::store},
};

// The value of `args[i]`, an option that takes one, from "--name VALUE" or "--name=VALUE";
// nullopt when it is missing or empty.
std::optional<std::string> value_of(const Valued& option, std::span<const std::string> args,
                                    std::size_t& i) {
  const std::string_view arg = args[i];
  if (arg.size() > option.name.size()) {
    const std::string_view value = arg.substr(option.name.size() + 1);
    return value.empty() ? std::nullopt : std::optional<std::string>(value);
  }
  if (i + 1 < args.size() && !args[i + 1].empty()) {
    return args[++i];
  }
  return std::nullopt;
}

// "--simulate" is one recorder; "--simulate=N" N of them.
std::optional<int> simulated_recorders(std::string_view arg) {
  if (arg == "--simulate") {
    return 1;
  }
  const std::string_view digits = arg.substr(std::string_view("--simulate=").size());
  int n = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
  if (error != std::errc() || end != digits.data() + digits.size() || n < 1 ||
      n > sim::kMostSimulated) {
    return std::nullopt;
  }
  return n;
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
    } else if (arg == "--simulate" || arg.starts_with("--simulate=")) {
      const std::optional<int> n = simulated_recorders(arg);
      if (!n) {
        return usage_error("--simulate=N takes a number of recorders from 1 to " +
                           std::to_string(sim::kMostSimulated));
      }
      options.simulate = *n;
    } else if (arg == "--yes") {
      options.yes = true;
    } else if (arg == "--verbose") {
      options.verbose = true;
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--all") {
      options.all = true;
    } else if (arg == "--without-offload") {
      options.without_offload = true;
    } else if (arg == "--remote") {
      options.remote = true;
    } else if (arg == "--dry-run") {
      options.dry_run = true;
    } else if (arg == "--prometheus") {
      options.prometheus = true;
    } else if (arg == "--once") {
      options.once = true;
    } else if (arg == "--status") {
      options.station_status = true;
    } else if (const auto* valued = std::ranges::find(kValued, option_name(arg), &Valued::name);
               valued != kValued.end()) {
      std::optional<std::string> value = value_of(*valued, args, i);
      if (!value) {
        return usage_error(std::string(valued->name) + " needs " + std::string(valued->what));
      }
      options.*(valued->field) = std::move(value);
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
  if (options.device && options.serial) {
    return usage_error("--device and --serial both choose the recorder; give one of them");
  }
  if (options.all && operands[0] != "apply" && operands[0] != "offload") {
    return usage_error("--all goes with apply and offload only");
  }
  if (options.from && operands[0] != "offload") {
    return usage_error("--from goes with offload only");
  }
  if (options.store && operands[0] != "offload" && operands[0] != "erase" &&
      operands[0] != "upload" && operands[0] != "prune" && operands[0] != "status" &&
      operands[0] != "station") {
    return usage_error("--store goes with offload, upload, prune, status, station and erase only");
  }
  if ((options.once || options.station_status) && operands[0] != "station") {
    return usage_error(std::string(options.once ? "--once" : "--status") +
                       " goes with station only");
  }
  if (operands[0] == "station") {
    if (operands.size() > 1) {
      return usage_error("station takes no TEXT");
    }
    if (options.device || options.serial || options.all) {
      return usage_error(
          "station takes every recorder plugged in; --device, --serial and --all "
          "choose among them");
    }
    if (options.once && options.station_status) {
      return usage_error("--status reads the service's drawer; --once runs one");
    }
    parsed.action = Parsed::Action::station;
    return parsed;
  }
  if (options.prometheus && operands[0] != "status") {
    return usage_error("--prometheus goes with status only");
  }
  if (options.dry_run && operands[0] != "prune") {
    return usage_error("--dry-run goes with prune only");
  }
  if (options.remote && operands[0] != "check") {
    return usage_error("--remote goes with check only");
  }
  if (operands[0] == "upload" || operands[0] == "prune" || operands[0] == "status") {
    if (operands.size() > 1) {
      return usage_error(std::string(operands[0]) + " takes no TEXT");
    }
    if (options.device || options.serial || options.simulate > 0) {
      return usage_error(std::string(operands[0]) +
                         " works on stored bags; --device, --serial and --simulate are for "
                         "recorders");
    }
    parsed.action = operands[0] == "upload"  ? Parsed::Action::upload
                    : operands[0] == "prune" ? Parsed::Action::prune
                                             : Parsed::Action::status;
    return parsed;
  }
  if (options.without_offload && operands[0] != "erase") {
    return usage_error("--without-offload goes with erase only");
  }
  if (operands[0] == "check") {
    if (operands.size() < 2) {
      return usage_error("check needs a BAG");
    }
    if (options.device || options.serial || options.simulate > 0) {
      return usage_error("check reads bags; --device, --serial and --simulate are for recorders");
    }
    options.bags.assign(operands.begin() + 1, operands.end());
    parsed.action = Parsed::Action::check;
    return parsed;
  }
  if (operands[0] == "offload") {
    if (operands.size() > 1) {
      return usage_error("offload takes no TEXT");
    }
    if (options.all && (options.device || options.serial)) {
      return usage_error("--all takes every recorder; --device and --serial choose one");
    }
    if (options.from && (options.all || options.device || options.simulate > 0)) {
      return usage_error("--from reads the disk it names; no recorder on the bus is asked");
    }
    parsed.action = Parsed::Action::offload;
    return parsed;
  }
  if (operands[0] == "audit") {
    if (operands.size() > 1) {
      return usage_error("audit takes no TEXT");
    }
    if (options.device || options.simulate > 0) {
      return usage_error(
          "audit reads the journal; --device and --simulate are for the other commands");
    }
    parsed.action = Parsed::Action::audit;
    return parsed;
  }
  if (options.since) {
    return usage_error("--since goes with audit only");
  }
  if (operands[0] == "apply") {
    if (operands.size() != 2) {
      return usage_error(operands.size() < 2 ? "apply needs a PROFILE" : "apply takes one PROFILE");
    }
    if (options.all && (options.device || options.serial)) {
      return usage_error("--all takes every recorder; --device and --serial choose one");
    }
    options.profile = operands[1];
    parsed.action = Parsed::Action::apply;
    return parsed;
  }
  if (operands[0] == "list") {
    if (operands.size() > 1) {
      return usage_error("list takes no TEXT");
    }
    if (options.device || options.serial) {
      return usage_error("list shows every recorder; --device and --serial are for the others");
    }
    parsed.action = Parsed::Action::list;
    return parsed;
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
  return parsed;
}

}  // namespace kbc::cli
