// kbc-emulated-bus: a USB bus holding an emulated recorder, for running programs that talk to it
// through the real libusb 0.1.
//
//   umockdev-wrapper kbc-emulated-bus [OPTIONS] -- PROGRAM [ARGS...] [--then PROGRAM [ARGS...]]...
//
// It builds a umockdev testbed with bus 001: the root hub (001/001, vendor 1d6b), a mouse of
// another vendor (001/002, 046d) and the recorder (001/003, 4255:0007; configuration 1,
// interface 0, bulk endpoints 0x01 and 0x81). Their nodes serve the descriptors on read() and
// every usbfs ioctl on them comes here: the recorder's vendor control transfers are answered by
// sim::Firmware (an OUT carries a command, the next IN returns its reply), the other requests as
// the kernel would. A libusb 0.1 scan opens every node, asks CONNECTINFO, reads the descriptors
// and asks each device's driver for hub ports (USBDEVFS_IOCTL); a session then sends
// SETCONFIGURATION, CLAIMINTERFACE, two CLEAR_HALTs and its CONTROL transfers. Replies come at
// once: nothing here waits out a transfer's time-out. Then it runs the programs one after another;
// each inherits the preload, so it finds the bus in /dev/bus/usb. The recorder's state lives in
// this process and carries over from one program to the next, so a test can show that what one
// command set, a later one reads back, without a state file.
//
// All programs run; the exit status is the first non-zero one among them, 0 when all succeeded,
// and 125 when the bus itself could not be set up. A program's own arguments cannot be "--then".
//
// Options:
//   --wire FILE      record every request the devices get, one line each (format in wire.h)
//   --no-recorder    leave the recorder off the bus
//   --unplug-at N    pull the recorder at its N-th control transfer (from 1): that one and every
//                    later request fails with ENODEV, and its node is gone for later scans
//   --denied         every request to the recorder fails with EPERM, as on a node libusb could
//                    only open read-only for want of permission
//   --admin PW       the recorder's administrator password (888888)
//   --normal PW      its normal password (000000)
//   --pre-recording  pre-recording is on, so set_motion_on is refused
//   --identity FILE  the recorder's identity record: the 89 bytes of FILE, as a rogue or damaged
//                    recorder may hold them
//   --verbose        every request on standard error too
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <umockdev.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bus_layout.h"
#include "recorder_model.h"
#include "wire.h"

namespace kbc::emulated {
namespace {

constexpr int kSetupFailed = 125;
constexpr int kCannotRun = 127;
constexpr std::uint8_t kDirectionIn = 0x80;  // bmRequestType: device to host

void complain(const std::string& message) {
  std::fprintf(stderr, "kbc-emulated-bus: %s\n", message.c_str());
}

struct Options {
  std::optional<std::string> wire;
  bool with_recorder = true;
  Faults faults;
  std::optional<std::string> admin_password;
  std::optional<std::string> normal_password;
  bool pre_recording = false;
  std::optional<link::IdentityRecord> identity;
  bool verbose = false;
  std::vector<std::vector<std::string>> programs;
};

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::optional<link::IdentityRecord> read_identity(const std::string& file) {
  // One byte more than the record, to tell a longer file.
  std::array<std::uint8_t, link::kIdentitySize + 1> bytes{};
  const File opened(std::fopen(file.c_str(), "rb"));
  const std::size_t n = opened ? std::fread(bytes.data(), 1, bytes.size(), opened.get()) : 0;
  if (n != link::kIdentitySize) {
    complain("--identity needs a file of exactly 89 bytes: " + file);
    return std::nullopt;
  }
  return link::IdentityRecord::from_bytes(std::span(bytes).first<link::kIdentitySize>());
}

std::optional<Options> parse(int argc, char** argv) {
  Options options;
  int i = 1;
  const auto value = [&](std::string_view option) -> std::optional<std::string> {
    if (i + 1 >= argc) {
      complain(std::string(option) + " needs a value");
      return std::nullopt;
    }
    return std::string(argv[++i]);
  };
  for (; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (arg == "--wire") {
      if (!(options.wire = value(arg))) {
        return std::nullopt;
      }
    } else if (arg == "--no-recorder") {
      options.with_recorder = false;
    } else if (arg == "--unplug-at") {
      const auto text = value(arg);
      unsigned n = 0;
      if (!text ||
          std::from_chars(text->data(), text->data() + text->size(), n).ptr !=
              text->data() + text->size() ||
          n == 0) {
        complain("--unplug-at needs a transfer number from 1");
        return std::nullopt;
      }
      options.faults.unplug_at = n;
    } else if (arg == "--denied") {
      options.faults.denied = true;
    } else if (arg == "--admin") {
      if (!(options.admin_password = value(arg))) {
        return std::nullopt;
      }
    } else if (arg == "--normal") {
      if (!(options.normal_password = value(arg))) {
        return std::nullopt;
      }
    } else if (arg == "--pre-recording") {
      options.pre_recording = true;
    } else if (arg == "--identity") {
      const auto file = value(arg);
      if (!file || !(options.identity = read_identity(*file))) {
        return std::nullopt;
      }
    } else if (arg == "--verbose") {
      options.verbose = true;
    } else {
      complain("unknown option " + std::string(arg));
      return std::nullopt;
    }
  }
  std::vector<std::string> program;
  for (; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--then") {
      options.programs.push_back(std::move(program));
      program.clear();
    } else {
      program.emplace_back(argv[i]);
    }
  }
  options.programs.push_back(std::move(program));
  for (const auto& p : options.programs) {
    if (p.empty()) {
      complain("usage: kbc-emulated-bus [OPTIONS] -- PROGRAM [ARGS...] [--then PROGRAM ...]");
      return std::nullopt;
    }
  }
  return options;
}

struct DataUnref {
  void operator()(UMockdevIoctlData* data) const { g_object_unref(data); }
};
using Data = std::unique_ptr<UMockdevIoctlData, DataUnref>;

struct TestbedUnref {
  void operator()(UMockdevTestbed* testbed) const { g_object_unref(testbed); }
};
using Testbed = std::unique_ptr<UMockdevTestbed, TestbedUnref>;

// The client's memory behind the pointer at `offset` of `parent`; null when it cannot be read.
Data resolve(UMockdevIoctlData* parent, std::size_t offset, std::size_t length) {
  g_autoptr(GError) error = nullptr;
  Data data(umockdev_ioctl_data_resolve(parent, offset, length, &error));
  if (error != nullptr) {
    complain(std::string("cannot read the client's memory: ") + error->message);
  }
  return data;
}

template <typename T>
T* as(const Data& data) {
  return reinterpret_cast<T*>(data->data);
}

std::string request_name(unsigned long request) {
  switch (request) {
    case USBDEVFS_SETCONFIGURATION:
      return "setconfiguration";
    case USBDEVFS_CLAIMINTERFACE:
      return "claiminterface";
    case USBDEVFS_RELEASEINTERFACE:
      return "releaseinterface";
    case USBDEVFS_CLEAR_HALT:
      return "clear_halt";
    case USBDEVFS_RESETEP:
      return "resetep";
    case USBDEVFS_CONNECTINFO:
      return "connectinfo";
    case USBDEVFS_IOCTL:
      return "ioctl";
    case USBDEVFS_RESET:
      return "reset";
    default:
      break;
  }
  char name[32];
  std::snprintf(name, sizeof name, "0x%lx", request);
  return name;
}

class Bus;

// One device node with the handler umockdev hands its ioctls to.
struct Node {
  Bus* bus;
  BusDevice device;
  UMockdevIoctlBase* handler = nullptr;

  Node(Bus* b, BusDevice d) : bus(b), device(std::move(d)) {}
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;
  ~Node() { g_clear_object(&handler); }
};

class Bus {
 public:
  Bus(const Options& options, Testbed testbed)
      : recorder_(options.faults), verbose_(options.verbose), testbed_(std::move(testbed)) {
    if (options.admin_password) {
      recorder_.state().admin_password = *options.admin_password;
    }
    if (options.normal_password) {
      recorder_.state().normal_password = *options.normal_password;
    }
    recorder_.state().pre_recording = options.pre_recording;
    if (options.identity) {
      recorder_.state().identity = *options.identity;
    }
  }

  bool open_wire(const std::string& path) {
    wire_.reset(std::fopen(path.c_str(), "w"));
    if (!wire_) {
      complain("cannot write " + path + ": " + std::strerror(errno));
    }
    return wire_ != nullptr;
  }

  bool attach(const std::vector<BusDevice>& devices) {
    g_autoptr(GError) error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed_.get(), describe(devices).c_str(), &error)) {
      complain(std::string("cannot add the devices: ") + error->message);
      return false;
    }
    for (const BusDevice& device : devices) {
      auto& node = nodes_.emplace_back(std::make_unique<Node>(this, device));
      node->handler = umockdev_ioctl_base_new();
      g_signal_connect(node->handler, "handle-ioctl", G_CALLBACK(&Bus::on_ioctl), node.get());
      if (!umockdev_testbed_attach_ioctl(testbed_.get(), device.devnode().c_str(), node->handler,
                                         &error)) {
        complain("cannot attach to " + device.devnode() + ": " + error->message);
        return false;
      }
    }
    return true;
  }

  void set_step(int step) {
    std::lock_guard lock(mutex_);
    step_ = step;
  }

  void record_exit(int status) {
    std::lock_guard lock(mutex_);
    write(format(ExitLine{step_, status}));
  }

 private:
  // Runs on umockdev's worker thread.
  static gboolean on_ioctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    Node& node = *static_cast<Node*>(data);
    const int result = node.bus->answer(node, client);
    umockdev_ioctl_client_complete(client, result < 0 ? -1 : result, result < 0 ? -result : 0);
    return TRUE;
  }

  int answer(Node& node, UMockdevIoctlClient* client) {
    std::lock_guard lock(mutex_);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    if (request == USBDEVFS_CONTROL) {
      return control(node, arg);
    }
    IoctlLine line{step_, node.device.node(), node.device.vendor, request_name(request), {}, 0};
    line.result = other(node, request, arg, line);
    write(format(line));
    return line.result;
  }

  bool is_recorder(const Node& node) const { return node.device.role == Role::recorder; }

  int control(Node& node, UMockdevIoctlData* arg) {
    Data transfer = resolve(arg, 0, sizeof(usbdevfs_ctrltransfer));
    if (!transfer) {
      return -EFAULT;
    }
    const auto* t = as<usbdevfs_ctrltransfer>(transfer);
    const ControlSetup setup{t->bRequestType, t->bRequest, t->wValue,
                             t->wIndex,       t->wLength,  t->timeout};
    const bool in = (setup.type & kDirectionIn) != 0;
    std::vector<std::uint8_t> bytes(setup.length);
    Data buffer;
    if (setup.length > 0) {
      buffer = resolve(transfer.get(), offsetof(usbdevfs_ctrltransfer, data), setup.length);
      if (!buffer) {
        return -EFAULT;
      }
      if (!in) {
        std::memcpy(bytes.data(), buffer->data, setup.length);
      }
    }

    int result = -EPIPE;  // nothing but the recorder takes requests of ours
    if (is_recorder(node)) {
      const bool was_plugged = !recorder_.unplugged();
      result = recorder_.control(setup, bytes);
      if (was_plugged && recorder_.unplugged()) {
        unplug(node);
      }
    }
    if (in) {
      bytes.resize(result > 0 ? static_cast<std::size_t>(result) : 0);
      std::memcpy(buffer->data, bytes.data(), bytes.size());
    }
    write(
        format(ControlLine{step_, node.device.node(), node.device.vendor, setup.type, setup.request,
                           setup.value, setup.index, setup.length, setup.timeout, result, bytes}));
    return result;
  }

  // Every request but a control transfer. The argument is read first so that the record shows it
  // even when an unplugged or access-denied recorder refuses the request.
  int other(Node& node, unsigned long request, UMockdevIoctlData* arg, IoctlLine& line) {
    const int refused = is_recorder(node) ? recorder_.refusal() : 0;
    switch (request) {
      case USBDEVFS_CONNECTINFO: {
        Data info = resolve(arg, 0, sizeof(usbdevfs_connectinfo));
        if (!info) {
          return -EFAULT;
        }
        if (refused) {
          return refused;
        }
        as<usbdevfs_connectinfo>(info)->devnum = static_cast<unsigned>(node.device.devnum);
        as<usbdevfs_connectinfo>(info)->slow = 0;
        return 0;
      }
      case USBDEVFS_IOCTL:
        return driver_ioctl(node, arg, line, refused);
      case USBDEVFS_SETCONFIGURATION:
      case USBDEVFS_CLAIMINTERFACE:
      case USBDEVFS_RELEASEINTERFACE:
      case USBDEVFS_CLEAR_HALT:
      case USBDEVFS_RESETEP: {
        Data value = resolve(arg, 0, sizeof(unsigned));
        if (!value) {
          return -EFAULT;
        }
        const unsigned v = *as<unsigned>(value);
        line.arg = request == USBDEVFS_SETCONFIGURATION ? static_cast<int>(v) : long{v};
        if (refused) {
          return refused;
        }
        if (!is_recorder(node)) {
          return 0;
        }
        switch (request) {
          case USBDEVFS_SETCONFIGURATION:
            return recorder_.set_configuration(static_cast<int>(v));
          case USBDEVFS_CLAIMINTERFACE:
            return recorder_.claim_interface(v);
          case USBDEVFS_RELEASEINTERFACE:
            return recorder_.release_interface(v);
          default:
            return recorder_.clear_halt(v);
        }
      }
      default:
        return refused ? refused : -ENOTTY;
    }
  }

  // USBDEVFS_IOCTL passes a request on to the interface's driver; libusb asks every device's for
  // its hub ports. Only the root hub has them.
  int driver_ioctl(Node& node, UMockdevIoctlData* arg, IoctlLine& line, int refused) {
    Data command = resolve(arg, 0, sizeof(usbdevfs_ioctl));
    if (!command) {
      return -EFAULT;
    }
    const int code = as<usbdevfs_ioctl>(command)->ioctl_code;
    const bool portinfo = code == static_cast<int>(USBDEVFS_HUB_PORTINFO);
    line.name = portinfo ? "ioctl/hub_portinfo" : "ioctl/" + request_name(code);
    if (refused) {
      return refused;
    }
    if (!portinfo || !node.device.is_hub()) {
      return -ENOTTY;
    }
    Data ports =
        resolve(command.get(), offsetof(usbdevfs_ioctl, data), sizeof(usbdevfs_hub_portinfo));
    if (!ports) {
      return -EFAULT;
    }
    auto* info = as<usbdevfs_hub_portinfo>(ports);
    std::memset(info, 0, sizeof *info);
    info->nports = 2;
    for (const auto& other : nodes_) {
      if (other->device.role == Role::other) {
        info->port[0] = static_cast<char>(other->device.devnum);
      } else if (other->device.role == Role::recorder && !recorder_.unplugged()) {
        info->port[1] = static_cast<char>(other->device.devnum);
      }
    }
    return info->nports + 1;
  }

  // The node goes before the failing transfer completes, so that the next scan cannot find it.
  void unplug(const Node& node) {
    umockdev_testbed_remove_device(testbed_.get(), ("/sys" + node.device.sysfs).c_str());
  }

  void write(const std::string& line) {
    if (wire_) {
      std::fprintf(wire_.get(), "%s\n", line.c_str());
      std::fflush(wire_.get());
    }
    if (verbose_) {
      std::fprintf(stderr, "kbc-emulated-bus: %s\n", line.c_str());
    }
  }

  std::mutex mutex_;
  RecorderModel recorder_;
  bool verbose_;
  File wire_;
  int step_ = 0;
  std::vector<std::unique_ptr<Node>> nodes_;
  Testbed testbed_;  // last, so that it goes first and no handler outlives what it uses
};

struct Wait {
  GMainLoop* loop;
  int status = 0;
};

// As a shell reports it: the exit code, or 128 and the signal.
int exit_code(int wait_status) {
  if (WIFEXITED(wait_status)) {
    return WEXITSTATUS(wait_status);
  }
  if (WIFSIGNALED(wait_status)) {
    return 128 + WTERMSIG(wait_status);
  }
  return kCannotRun;
}

int run(const std::vector<std::string>& program) {
  std::vector<char*> argv;
  for (const std::string& arg : program) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  GPid pid = 0;
  g_autoptr(GError) error = nullptr;
  const auto flags = static_cast<GSpawnFlags>(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_SEARCH_PATH |
                                              G_SPAWN_CHILD_INHERITS_STDIN);
  if (!g_spawn_async(nullptr, argv.data(), nullptr, flags, nullptr, nullptr, &pid, &error)) {
    complain(std::string("cannot run ") + program.front() + ": " + error->message);
    return kCannotRun;
  }
  g_autoptr(GMainLoop) loop = g_main_loop_new(nullptr, FALSE);
  Wait wait{loop};
  g_child_watch_add(
      pid,
      [](GPid child, gint status, gpointer data) {
        auto* w = static_cast<Wait*>(data);
        w->status = status;
        g_spawn_close_pid(child);
        g_main_loop_quit(w->loop);
      },
      &wait);
  g_main_loop_run(loop);
  return exit_code(wait.status);
}

int main_with(const Options& options) {
  Testbed testbed(umockdev_testbed_new());
  if (!umockdev_in_mock_environment()) {
    complain("not under umockdev's preload: run it as umockdev-wrapper kbc-emulated-bus ...");
    return kSetupFailed;
  }
  Bus bus(options, std::move(testbed));
  if (options.wire && !bus.open_wire(*options.wire)) {
    return kSetupFailed;
  }
  if (!bus.attach(bus_devices(options.with_recorder))) {
    return kSetupFailed;
  }
  int first_failure = 0;
  for (std::size_t step = 0; step < options.programs.size(); ++step) {
    bus.set_step(static_cast<int>(step));
    const int status = run(options.programs[step]);
    bus.record_exit(status);
    if (first_failure == 0) {
      first_failure = status;
    }
  }
  return first_failure;
}

}  // namespace
}  // namespace kbc::emulated

int main(int argc, char** argv) {
  const auto options = kbc::emulated::parse(argc, argv);
  if (!options) {
    return kbc::emulated::kSetupFailed;
  }
  return kbc::emulated::main_with(*options);
}
