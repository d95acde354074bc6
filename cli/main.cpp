// kbcctl: the recorder on the USB bus, or the simulated one, from the command line.
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "cli/run.h"
#include "link/real_port.h"
#include "link/timing.h"
#include "sim/sim_bus.h"

int main(int argc, char** argv) {
  try {
    // Only the character set: numbers and times keep the forms the recorder and scripts expect.
    std::setlocale(LC_CTYPE, "");
    const kbc::cli::Charset charset = kbc::cli::Charset::of_locale();
    const std::vector<std::string> args(argv + 1, argv + argc);
    kbc::link::RealPort port;
    kbc::link::RealPause pause;
    kbc::sim::SimBus simulated(1);
    kbc::console::SystemClock clock;
    const auto terminal = kbc::cli::TtyTerminal::open_controlling(charset);
    kbc::cli::Io io{STDIN_FILENO, std::cout, std::cerr, terminal.get(), charset};
    const auto env = [](std::string_view name) -> std::optional<std::string> {
      const char* value = std::getenv(std::string(name).c_str());
      return value ? std::optional<std::string>(value) : std::nullopt;
    };
    return kbc::cli::run(args, env, io, {{port, pause}, {simulated, pause}, clock});
  } catch (const std::exception& error) {
    std::cerr << "kbcctl: " << error.what() << '\n';
    return kbc::cli::kFailed;
  }
}
