// What kbcctl was asked to do: the commands it knows, each bound to one button of the console, and
// the command line parsed into options, a command and its TEXT.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kbc::cli {

// What the TEXT of a command goes into.
enum class TextKind {
  none,   // the command takes no TEXT
  item,   // an item of the button's drop-down list
  field,  // the text field beside the button
};

struct Command {
  std::string_view name;
  int button;
  TextKind text;
  std::string_view summary;  // for --help
};

std::span<const Command> commands();
// The row of this name; nullptr for a name that is no command.
const Command* find_command(std::string_view name);
// The drop-down list or text field that the command's TEXT goes into; 0 for TextKind::none.
int text_control(const Command& command);

struct Options {
  int simulate = 0;                          // recorders on the simulated bus; 0: the USB bus
  std::optional<std::string> password_file;  // "-" for standard input
  bool yes = false;
  bool verbose = false;
  bool json = false;
  bool all = false;                   // apply, offload: every recorder on the bus
  bool without_offload = false;       // erase: in spite of the station's rule
  bool remote = false;                // check: the object store's copy
  bool dry_run = false;               // prune: say what would be removed, remove nothing
  bool once = false;                  // station: the recorders present now, then exit
  bool station_status = false;        // station: what the running service's drawer shows
  bool prometheus = false;            // status: as metrics in Prometheus's text format
  std::optional<std::string> device;  // --device LOCATION
  std::optional<std::string> serial;  // --serial SERIAL; for audit, the recorder's entries
  std::optional<std::string> since;   // --since TIME, for audit
  std::optional<std::string> from;    // --from PATH, for offload: a disk already switched
  std::optional<std::string> store;   // --store DIR, for offload and erase
  const Command* command = nullptr;   // nullptr for list, apply and audit
  std::string text;
  std::optional<std::string> profile;  // apply's PROFILE
  std::vector<std::string> bags;       // check's BAGs
};

struct Parsed {
  enum class Action {
    run,
    list,
    apply,
    offload,
    upload,
    prune,
    station,
    status,
    check,
    audit,
    help,
    version,
    usage_error
  };
  Action action;
  Options options;
  std::string error;  // for usage_error: what was wrong, in one line
};

// The arguments after the program name. The TEXT is checked against the console later; here only
// whether a command takes one.
Parsed parse_arguments(std::span<const std::string> args);

}  // namespace kbc::cli
