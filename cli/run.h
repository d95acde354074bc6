// kbcctl as a function of its arguments, environment, streams and recorders, so that it runs
// in-process against the simulated recorder as well as from main().
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "cli/charset.h"
#include "cli/passwords.h"
#include "cli/terminal.h"
#include "console/audit.h"
#include "console/console.h"
#include "journal/audit_reader.h"
#include "link/session.h"
#include "offload/disk_watch.h"
#include "offload/station_file.h"
#include "sim/sim_bus.h"

namespace kbc::cli {

inline constexpr int kSucceeded = 0;    // the command's success report was produced
inline constexpr int kFailed = 1;       // the recorder reported a failure or a refusal
inline constexpr int kUsage = 2;        // bad input; nothing was sent
inline constexpr int kSelection = 3;    // no recorder chosen among several, or none has the serial
inline constexpr int kNoRecorder = 4;   // none found, access denied, or the chosen one gone
inline constexpr int kUnconfirmed = 5;  // check: intact, but the journal cannot confirm it

struct Io {
  int in;  // standard input's descriptor, for --password-file -
  std::ostream& out;
  std::ostream& err;
  Terminal* terminal;                 // nullptr: the process has no terminal
  Charset charset = Charset::utf8();  // the terminal's, for arguments, passwords and what is shown
  SourceWait wait{};                  // on a password source that gives nothing
  // Standard error is a terminal: offload draws its progress there.
  bool err_terminal = false;
  // errno of standard output's failed write, for the message; 0 when not known.
  std::function<int()> out_error = [] { return 0; };
};

struct Recorders {
  link::Link usb;  // the recorders on the USB bus
  // For --simulate=N: a simulated bus of N recorders, which lives until kbcctl is done.
  std::function<sim::SimBus&(int recorders)> simulate;
  // The pauses of the simulated bus's link: real, as the recorder's, or a test's.
  link::Pause* simulated_pause = nullptr;
  console::Clock& clock;
  // Where a recorder's disk appears after its switch to mass storage; none: offload needs --from.
  offload::DiskWatch* watch = nullptr;
  // The station's own file, whose erase rule nothing kbcctl is given may weaken.
  std::filesystem::path station_file{offload::kSystemStationFile};
};

// The system journal: where kbcctl enters what it did to a recorder on the USB bus, and what
// `audit` reads. Without either, nothing is entered or `audit` says the journal cannot be read.
struct Journal {
  console::AuditTrail* trail = nullptr;
  journal::AuditSource* source = nullptr;
  // Where `station` enters what the service does, as the operator kbc-station.
  console::AuditTrail* station_trail = nullptr;
};

// The value of an environment variable; nullopt when it is not set.
using Environment = std::function<std::optional<std::string>(std::string_view name)>;

// `args` without the program name. Returns the exit status.
int run(std::span<const std::string> args, const Environment& env, Io& io,
        const Recorders& recorders, const Journal& journal = {});

// The --help text.
std::string help_text();

}  // namespace kbc::cli
