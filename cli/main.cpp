// kbcctl: the recorders on the USB bus, or simulated ones, from the command line; what it does
// to a recorder on the bus goes into the system journal.
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/output.h"
#include "cli/run.h"
#include "journal/fields.h"
#include "journal/journal_trail.h"
#include "link/real_port.h"
#include "link/timing.h"
#include "sim/sim_bus.h"
#include "station/station.h"

int main(int argc, char** argv) {
  // A full disk or a closed pipe on standard output is reported, not lost or a silent death.
  kbc::cli::FdOutput stdout_file(STDOUT_FILENO);
  std::ostream out(&stdout_file);
  try {
    // Only the character set: numbers and times keep the forms the recorder and scripts expect.
    std::setlocale(LC_CTYPE, "");
    const kbc::cli::Charset charset = kbc::cli::Charset::of_locale();
    const std::vector<std::string> args(argv + 1, argv + argc);
    kbc::link::RealPort port;
    kbc::link::RealPause pause;
    std::unique_ptr<kbc::sim::SimBus> simulated;
    const auto simulate = [&](int recorders) -> kbc::sim::SimBus& {
      simulated = std::make_unique<kbc::sim::SimBus>(static_cast<std::size_t>(recorders));
      return *simulated;
    };
    kbc::console::SystemClock clock;
    const auto terminal = kbc::cli::TtyTerminal::open_controlling(charset);
    kbc::cli::Io io{STDIN_FILENO, out, std::cerr, terminal.get(), charset};
    io.err_terminal = ::isatty(STDERR_FILENO) == 1;
    io.out_error = [&] { return stdout_file.error(); };
    const auto env = [](std::string_view name) -> std::optional<std::string> {
      const char* value = std::getenv(std::string(name).c_str());
      return value ? std::optional<std::string>(value) : std::nullopt;
    };
    kbc::journal::JournalTrail trail{std::string(kbc::journal::kCliIdentifier)};
    kbc::journal::SystemJournal journal;
    kbc::journal::JournalTrail station_trail{std::string(kbc::journal::kCliIdentifier),
                                             std::string(kbc::journal::kJournalSocket),
                                             std::string(kbc::station::kStationOperator)};
    kbc::offload::UdevDiskWatch watch;
    return kbc::cli::run(args, env, io, {{port, pause}, simulate, &pause, clock, &watch},
                         {&trail, &journal, &station_trail});
  } catch (const std::exception& error) {
    std::cerr << "kbcctl: " << error.what() << '\n';
    return kbc::cli::kFailed;
  }
}
