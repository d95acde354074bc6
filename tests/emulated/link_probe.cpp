// link_probe: one session through the real libusb 0.1, running the commands it is given.
//
//   link_probe COMMAND[=ARGUMENT]...
//
// COMMAND is a name from the command table (check_admin_psw, get_device_info, set_motion_on, ...),
// ARGUMENT its raw argument bytes. Prints "session STATE [CODE]", then "NAME STATUS" per command
// (get_device_info adds the serial number of the record it got) and the link's trace lines as
// "trace: ...". Exits 0 when the session was ready, 1 when it was not, 2 on a bad command line.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "link/commands.h"
#include "link/real_port.h"
#include "link/session.h"
#include "link/trace.h"

namespace {

using namespace kbc::link;

using Row = decltype(kCommands)::value_type;  // one command of the table

const char* state_name(Session::State state) {
  switch (state) {
    case Session::State::ready:
      return "ready";
    case Session::State::no_device:
      return "no_device";
    case Session::State::several_recorders:
      return "several_recorders";
    case Session::State::configuration_failed:
      return "configuration_failed";
  }
  return "?";
}

const Row* find_command(std::string_view name) {
  for (const Row& command : kCommands) {
    if (command.name == name) {
      return &command;
    }
  }
  return nullptr;
}

void run_command(Device& device, const Row& command, std::string_view argument) {
  const GbkText text = GbkText::from_bytes(argument);
  if (command.cmd == Cmd::get_device_info) {
    const DeviceInfo info = get_device_info(device, text);
    std::printf("%s %u serial=%s\n", command.name.data(), info.status,
                info.record().field(IdentityField::serial_number).bytes().c_str());
    return;
  }
  std::printf("%s %u\n", command.name.data(), run(device, command.cmd, text.span()));
}

}  // namespace

int main(int argc, char** argv) {
  struct Step {
    const Row* command;
    std::string_view argument;
  };
  std::vector<Step> steps;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const auto equals = arg.find('=');
    const std::string_view name = arg.substr(0, equals);
    const Row* command = find_command(name);
    if (command == nullptr) {
      std::fprintf(stderr, "link_probe: no command %.*s\n", static_cast<int>(name.size()),
                   name.data());
      return 2;
    }
    steps.push_back({command, equals == std::string_view::npos ? "" : arg.substr(equals + 1)});
  }

  set_trace_sink([](std::string_view line) {
    std::printf("trace: %.*s\n", static_cast<int>(line.size()), line.data());
  });
  RealPort port;
  RealPause pause;
  Link link{port, pause};
  Session session = Session::open(link);
  if (session.state() == Session::State::configuration_failed) {
    std::printf("session %s %d\n", state_name(session.state()), session.configuration_error());
  } else {
    std::printf("session %s\n", state_name(session.state()));
  }
  if (!session.ready()) {
    return 1;
  }
  for (const Step& step : steps) {
    run_command(session.device(), *step.command, step.argument);
  }
  return 0;
}
