// kbc-emulated-bus: a USB bus of emulated recorders among other devices, for running programs that
// talk to them through the real libusb 0.1, with recorders plugged in and pulled out while a
// program runs.
//
//   umockdev-wrapper kbc-emulated-bus [OPTIONS] -- PROGRAM [ARGS...] [--then PROGRAM [ARGS...]]...
//
// It builds a umockdev testbed with bus 001: the root hub (001/001, vendor 1d6b), then in the
// order --bus gives mice of another vendor (046d) and recorders (4255:0007; configuration 1,
// interface 0, bulk endpoints 0x01 and 0x81) from 001/002 on. Their nodes serve the descriptors
// on read() and every usbfs ioctl on them comes here: each recorder's vendor control transfers are
// answered by a sim::Firmware of its own (an OUT carries a command, the next IN returns its
// reply), the other requests as the kernel would. A libusb 0.1 scan opens every node, asks
// CONNECTINFO, reads the descriptors and asks each device's driver for hub ports (USBDEVFS_IOCTL);
// a session then sends SETCONFIGURATION, CLAIMINTERFACE, two CLEAR_HALTs and its CONTROL
// transfers. Replies come at once: nothing here waits out a transfer's time-out. Then it runs the
// programs one after another; each inherits the preload, so it finds the bus in /dev/bus/usb. The
// recorders' state lives in this process and carries over from one program to the next, so a
// test can show that what one command set, a later one reads back, without a state file.
//
// All programs run; the exit status is the first non-zero one among them, 0 when all succeeded,
// and 125 when the bus itself could not be set up. A program's own arguments cannot be "--then".
//
// Options:
//   --bus LAYOUT     the devices after the root hub in bus order, comma-separated: "mouse",
//                    "recorder" (serial number KBC0001, KBC0002, ... by its place among
//                    the recorders) or "recorder=SERIAL"; "mouse,recorder" when not given
//   --control FIFO   make FIFO and, while a program runs, take commands from it, one per line:
//                    "add mouse", "add recorder" or "add recorder=SERIAL" plugs a device in at
//                    the next device number and hub port; "remove LOCATION" pulls the device at
//                    LOCATION (001/003) out. Each sends the udev event a real hub causes, which
//                    a libudev monitor in the program receives: an added node is there before
//                    its "add" event goes out, a removed one gone before its "remove" event.
//   --wire FILE      record every request the devices get, and every event, one line each
//                    (format in wire.h)
//   --unplug-at N    pull each recorder out at its own N-th control transfer (from 1): that one
//                    and every later request fails with ENODEV, and its node is gone for later
//                    scans
//   --denied         every request to a recorder fails with EPERM, as on a node libusb could
//                    only open read-only for want of permission
//   --admin PW       every recorder's administrator password (888888)
//   --normal PW      and normal password (000000)
//   --pre-recording  pre-recording is on, so set_motion_on is refused
//   --identity FILE  every recorder's identity record: the 89 bytes of FILE, as a rogue or
//                    damaged recorder may hold them
//   --disk IMAGE[@OFFSET]
//                    once a recorder takes switch_msdc, it leaves the bus and comes back on the
//                    same port as a USB disk (4255:0008) whose block device holds IMAGE: a FAT
//                    or exFAT volume on the whole disk, or with @OFFSET in its first partition,
//                    which starts OFFSET bytes in; each with the udev properties blkid gives
//   --stray-disk IMAGE
//                    just before that, a flash disk of another vendor is plugged in on a port
//                    of its own, holding the FAT volume IMAGE: a disk no offload may take
//   --foreign-disk IMAGE
//                    or on the recorder's own port, for a moment before the recorder's disk
//                    comes there: a disk of another vendor where the recorder was
//   --verbose        every request on standard error too
//   --journal        let the programs reach the system journal. Without it, where journald
//                    runs, the bus and its programs get a mount namespace of their own (and a
//                    user namespace, for a user other than root) with an empty tmpfs over
//                    /run/systemd/journal, so that what the programs enter in the audit trail
//                    stays out of the machine's journal and asks nothing of the recorders
#include <fcntl.h>
#include <glib-unix.h>
#include <linux/usbdevice_fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <umockdev.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "bus_layout.h"
#include "recorder_model.h"
#include "sim/recorder_state.h"
#include "wire.h"

namespace kbc::emulated {
namespace {

constexpr int kSetupFailed = 125;
constexpr int kCannotRun = 127;
constexpr std::uint8_t kDirectionIn = 0x80;  // bmRequestType: device to host

void complain(const std::string& message) {
  std::fprintf(stderr, "kbc-emulated-bus: %s\n", message.c_str());
}

// The bytes of `from` from `offset` on, into a new file `to`, copied in the kernel.
void copy_tail(const std::string& from, std::uint64_t offset, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  auto at = static_cast<loff_t>(offset);
  while (in >= 0 && out >= 0 && ::copy_file_range(in, &at, out, nullptr, 1 << 30, 0) > 0) {
  }
  if (in < 0 || out < 0) {
    complain("cannot copy the disk image " + from + " to " + to + ": " + std::strerror(errno));
  }
  for (const int fd : {in, out}) {
    if (fd >= 0) {
      ::close(fd);
    }
  }
}

struct DiskImage {
  std::string path;
  std::uint64_t offset = 0;  // of the volume's partition; 0: the volume is the whole disk
};

struct Options {
  std::optional<std::string> wire;
  std::optional<DiskImage> disk;
  std::optional<DiskImage> stray_disk;
  std::optional<DiskImage> foreign_disk;
  std::vector<Plug> layout = *parse_layout(kDefaultLayout);
  std::optional<std::string> control;
  Faults faults;
  std::optional<std::string> admin_password;
  std::optional<std::string> normal_password;
  bool pre_recording = false;
  std::optional<link::IdentityRecord> identity;
  bool verbose = false;
  bool journal = false;
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
    } else if (arg == "--bus") {
      const auto text = value(arg);
      const auto layout = text ? parse_layout(*text) : std::nullopt;
      if (!layout) {
        complain("--bus needs a layout such as mouse,recorder=KBC0001,recorder");
        return std::nullopt;
      }
      options.layout = *layout;
    } else if (arg == "--control") {
      if (!(options.control = value(arg))) {
        return std::nullopt;
      }
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
    } else if (arg == "--disk" || arg == "--stray-disk" || arg == "--foreign-disk") {
      const auto text = value(arg);
      if (!text) {
        return std::nullopt;
      }
      DiskImage image{*text, 0};
      if (const std::size_t at = text->rfind('@'); arg == "--disk" && at != std::string::npos) {
        image.path = text->substr(0, at);
        const std::string_view digits = std::string_view(*text).substr(at + 1);
        if (std::from_chars(digits.data(), digits.data() + digits.size(), image.offset).ptr !=
            digits.data() + digits.size()) {
          complain("--disk needs IMAGE or IMAGE@OFFSET");
          return std::nullopt;
        }
      }
      (arg == "--disk"         ? options.disk
       : arg == "--stray-disk" ? options.stray_disk
                               : options.foreign_disk) = image;
    } else if (arg == "--verbose") {
      options.verbose = true;
    } else if (arg == "--journal") {
      options.journal = true;
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

// One device number of the bus: the handler umockdev hands its node's ioctls to, and the device
// while one is plugged in there.
struct Node {
  Bus* bus;
  int devnum;
  UMockdevIoctlBase* handler = nullptr;
  std::optional<BusDevice> device;        // the last device plugged in here
  std::optional<RecorderModel> recorder;  // when that device is a recorder
  bool present = false;
  bool switching = false;  // it took switch_msdc and its reply is still to be read

  Node(Bus* b, int number) : bus(b), devnum(number) {}
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;
  ~Node() { g_clear_object(&handler); }

  std::string name() const {
    char text[16];
    std::snprintf(text, sizeof text, "%03d/%03d", kBus, devnum);
    return text;
  }
  std::uint16_t vendor() const { return device ? device->vendor : 0; }
};

class Bus {
 public:
  Bus(const Options& options, Testbed testbed)
      : options_(options), verbose_(options.verbose), testbed_(std::move(testbed)) {
    g_autofree char* root = umockdev_testbed_get_root_dir(testbed_.get());
    root_ = root;
  }
  Bus(const Bus&) = delete;
  Bus& operator=(const Bus&) = delete;
  ~Bus() {
    if (control_source_ != 0) {
      g_source_remove(control_source_);
    }
    if (control_fd_ >= 0) {
      close(control_fd_);
    }
  }

  bool open_wire(const std::string& path) {
    wire_.reset(std::fopen(path.c_str(), "w"));
    if (!wire_) {
      complain("cannot write " + path + ": " + std::strerror(errno));
    }
    return wire_ != nullptr;
  }

  // Every device number gets its handler before any device is there, so that a program that
  // hears of a new device never finds its node without one.
  bool attach() {
    for (int devnum = 1; devnum <= kLastDevnum; ++devnum) {
      auto& node = nodes_.emplace(devnum, std::make_unique<Node>(this, devnum)).first->second;
      node->handler = umockdev_ioctl_base_new();
      g_signal_connect(node->handler, "handle-ioctl", G_CALLBACK(&Bus::on_ioctl), node.get());
      g_autoptr(GError) error = nullptr;
      const std::string devnode = "/dev/bus/usb/" + node->name();
      if (!umockdev_testbed_attach_ioctl(testbed_.get(), devnode.c_str(), node->handler, &error)) {
        complain("cannot attach to " + devnode + ": " + error->message);
        return false;
      }
    }
    std::lock_guard lock(mutex_);
    if (!place(root_hub(), false)) {
      return false;
    }
    for (const Plug& plug : options_.layout) {
      if (!plug_in(plug, false)) {
        return false;
      }
    }
    return true;
  }

  // Takes commands from a FIFO made at `path` while the main loop runs.
  bool open_control(const std::string& path) {
    if (mkfifo(path.c_str(), 0600) != 0 && errno != EEXIST) {
      complain("cannot make " + path + ": " + std::strerror(errno));
      return false;
    }
    // Open for writing too, so that a writer closing it never ends the reading.
    control_fd_ = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (control_fd_ < 0) {
      complain("cannot open " + path + ": " + std::strerror(errno));
      return false;
    }
    control_source_ = g_unix_fd_add(control_fd_, G_IO_IN, &Bus::on_control, this);
    return true;
  }

  // Carries out every whole command line the FIFO holds. Also run once a program has ended, so
  // that what it wrote takes effect before the next one starts.
  void take_commands() {
    if (control_fd_ < 0) {
      return;
    }
    char buffer[512];
    ssize_t n = 0;
    while ((n = read(control_fd_, buffer, sizeof buffer)) > 0) {
      pending_.append(buffer, static_cast<std::size_t>(n));
    }
    for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
      const std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      command(line);
    }
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

  // Runs on the main loop.
  static gboolean on_switched(gpointer data) {
    auto& bus = *static_cast<Bus*>(data);
    std::lock_guard lock(bus.mutex_);
    for (const int devnum : std::exchange(bus.switched_, {})) {
      bus.become_disk(devnum);
    }
    return G_SOURCE_REMOVE;
  }

  // A new USB disk on `port` at the next device number, its block devices holding `image`:
  // its device number, or 0. With the lock held. The USB device is there at once; its block
  // devices come once the image is copied, on a thread of its own, so that the bus goes on
  // answering the other recorders meanwhile, as a hub does while a disk spins up.
  int plug_disk(int port, const std::string& sysfs, std::uint16_t vendor, std::uint16_t product,
                const DiskImage& image) {
    if (next_devnum_ > kLastDevnum) {
      complain("the bus has no device number left");
      return 0;
    }
    const int devnum = next_devnum_++;
    BusDevice usb = disk_device(devnum, port, vendor, product);
    usb.sysfs = sysfs;
    if (!place(usb, true)) {
      return 0;
    }
    auto block = std::make_unique<BlockDisk>(
        BlockDisk{this, sysfs, std::string("sd") + static_cast<char>('b' + disks_),
                  16 * (1 + disks_), image});
    ++disks_;
    std::filesystem::create_directories(root_ + "/dev");
    copies_.emplace_back([block = std::move(block)]() mutable {
      const std::string node = block->bus->root_ + "/dev/" + block->name;
      // Copied by the kernel, not through this process's memory.
      copy_tail(block->image.path, 0, node);
      if (block->image.offset > 0) {
        copy_tail(block->image.path, block->image.offset, node + "1");
      }
      g_idle_add(&Bus::on_block_disk, block.release());
    });
    return devnum;
  }

  // A disk's block devices, once their bytes are there.
  struct BlockDisk {
    Bus* bus;
    std::string sysfs;
    std::string name;  // "sdb"
    int minor;
    DiskImage image;
  };

  // Runs on the main loop: udev is told of the disk's block devices.
  static gboolean on_block_disk(gpointer data) {
    const std::unique_ptr<BlockDisk> block(static_cast<BlockDisk*>(data));
    Bus& bus = *block->bus;
    std::lock_guard lock(bus.mutex_);
    char oem[8] = {};
    std::ifstream in(block->image.path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(block->image.offset + 3));
    in.read(oem, sizeof oem);
    const std::string fs_type = std::string_view(oem, sizeof oem) == "EXFAT   " ? "exfat" : "vfat";
    g_autoptr(GError) error = nullptr;
    const std::string described =
        describe_disk(block->sysfs, block->name, block->minor, block->image.offset > 0, fs_type);
    if (!umockdev_testbed_add_from_string(bus.testbed_.get(), described.c_str(), &error)) {
      complain(std::string("cannot add the disk: ") + error->message);
      return G_SOURCE_REMOVE;
    }
    // As the kernel tells of a disk that arrives: the disk, then its partition, each an "add".
    std::istringstream lines(described);
    for (std::string line; std::getline(lines, line);) {
      if (line.starts_with("P: ")) {
        umockdev_testbed_uevent(bus.testbed_.get(), ("/sys" + line.substr(3)).c_str(), "add");
      }
    }
    return G_SOURCE_REMOVE;
  }

  // The recorder at `devnum` leaves the bus and its disk arrives on the same port; just before,
  // a stray flash disk, where there is one, on a port of its own. With the lock held.
  void become_disk(int devnum) {
    Node& node = *nodes_.at(devnum);
    if (!node.present) {
      return;
    }
    if (options_.stray_disk && !stray_plugged_) {
      stray_plugged_ = true;
      const int port = next_port_++;
      plug_disk(port, plugged({Role::other, {}}, 0, port).sysfs, kFlashVendor, 0x5567,
                *options_.stray_disk);
    }
    const int port = node.device->port;
    const std::string sysfs = node.device->sysfs;
    pull_out(node);
    if (options_.foreign_disk) {
      // Another vendor's disk on the port first; the recorder's comes once it has gone.
      const int foreign = plug_disk(port, sysfs, kFlashVendor, 0x5567, *options_.foreign_disk);
      later_.push_back({foreign, port, sysfs});
      // Long enough for the program to be listening for disks, as an operator's hand is slow.
      g_timeout_add(1500, &Bus::on_foreign_gone, this);
      return;
    }
    plug_disk(port, sysfs, kRecorderVendor, kRecorderDiskProduct, *options_.disk);
  }

  // Runs on the main loop: the foreign disk leaves, the recorder's disk comes on its port.
  static gboolean on_foreign_gone(gpointer data) {
    auto& bus = *static_cast<Bus*>(data);
    std::lock_guard lock(bus.mutex_);
    for (const Later& later : std::exchange(bus.later_, {})) {
      if (later.devnum > 0) {
        bus.pull_out(*bus.nodes_.at(later.devnum));
      }
      bus.plug_disk(later.port, later.sysfs, kRecorderVendor, kRecorderDiskProduct,
                    *bus.options_.disk);
    }
    return G_SOURCE_REMOVE;
  }

  static gboolean on_control(gint, GIOCondition, gpointer data) {
    static_cast<Bus*>(data)->take_commands();
    return G_SOURCE_CONTINUE;
  }

  void command(std::string_view line) {
    std::lock_guard lock(mutex_);
    constexpr std::string_view kAdd = "add ", kRemove = "remove ";
    if (line.starts_with(kAdd)) {
      const auto plug = parse_plug(line.substr(kAdd.size()), recorders_);
      if (!plug) {
        complain("cannot add '" + std::string(line.substr(kAdd.size())) + "'");
        return;
      }
      plug_in(*plug, true);
      return;
    }
    if (line.starts_with(kRemove)) {
      const std::string_view location = line.substr(kRemove.size());
      for (auto& [devnum, node] : nodes_) {
        if (node->present && !node->device->is_hub() && node->name() == location) {
          pull_out(*node);
          return;
        }
      }
      complain("nothing to remove at " + std::string(location));
      return;
    }
    complain("unknown command '" + std::string(line) + "'");
  }

  // With the lock held.
  bool plug_in(const Plug& plug, bool announce) {
    if (next_devnum_ > kLastDevnum) {
      complain("the bus has no device number left");
      return false;
    }
    const int devnum = next_devnum_++;
    const int port = next_port_++;
    Node& node = *nodes_.at(devnum);
    if (plug.role == Role::recorder) {
      ++recorders_;
      node.recorder.emplace(options_.faults);
      sim::RecorderState& state = node.recorder->state();
      state.set_serial(plug.serial);
      state.admin_password = options_.admin_password.value_or(state.admin_password);
      state.normal_password = options_.normal_password.value_or(state.normal_password);
      state.pre_recording = options_.pre_recording;
      state.identity = options_.identity.value_or(state.identity);
    }
    return place(plugged(plug, devnum, port), announce);
  }

  bool place(const BusDevice& device, bool announce) {
    Node& node = *nodes_.at(device.devnum);
    node.device = device;
    // The node first: a program that hears the "add" event scans for it at once.
    const std::filesystem::path path = root_ + device.devnode();
    std::error_code ignored;
    std::filesystem::create_directories(path.parent_path(), ignored);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(device.descriptors.data()),
               static_cast<std::streamsize>(device.descriptors.size()));
    g_autoptr(GError) error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed_.get(), describe({device}).c_str(), &error)) {
      complain(std::string("cannot add the devices: ") + error->message);
      return false;
    }
    node.present = true;
    if (announce) {
      write(format(UeventLine{step_, node.name(), device.vendor, "add"}));
    }
    return true;
  }

  // The node goes before its "remove" event and before the failing request completes, so that no
  // later scan finds it. With the lock held.
  void pull_out(Node& node) {
    node.present = false;
    if (node.recorder) {
      node.recorder->unplug();
    }
    std::filesystem::remove(root_ + node.device->devnode());
    const std::string syspath = "/sys" + node.device->sysfs;
    umockdev_testbed_uevent(testbed_.get(), syspath.c_str(), "remove");
    umockdev_testbed_remove_device(testbed_.get(), syspath.c_str());
    write(format(UeventLine{step_, node.name(), node.vendor(), "remove"}));
  }

  int answer(Node& node, UMockdevIoctlClient* client) {
    std::lock_guard lock(mutex_);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    if (request == USBDEVFS_CONTROL) {
      return control(node, arg);
    }
    IoctlLine line{step_, node.name(), node.vendor(), request_name(request), {}, 0};
    line.result = other(node, request, arg, line);
    write(format(line));
    return line.result;
  }

  // 0, or the error every request gets: from a device that is gone, or from the recorder itself.
  static int refusal(const Node& node) {
    if (!node.present) {
      return -ENODEV;
    }
    return node.recorder ? node.recorder->refusal() : 0;
  }

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

    int result = -EPIPE;  // nothing but a recorder takes requests of ours
    if (!node.present) {
      result = -ENODEV;
    } else if (node.recorder) {
      const bool disk_before = node.recorder->state().mass_storage;
      result = node.recorder->control(setup, bytes);
      if (node.recorder->unplugged()) {
        pull_out(node);
      } else if (!disk_before && node.recorder->state().mass_storage && options_.disk) {
        node.switching = true;
      } else if (in && node.switching) {
        // The recorder answers the switch, then leaves and comes back as a disk: once the
        // program has its reply and has closed its session, however busy the bus is.
        node.switching = false;
        switched_.push_back(node.devnum);
        g_timeout_add(50, &Bus::on_switched, this);
      }
    }
    if (in) {
      bytes.resize(result > 0 ? static_cast<std::size_t>(result) : 0);
      std::memcpy(buffer->data, bytes.data(), bytes.size());
    }
    write(
        format(ControlLine{step_, node.name(), node.vendor(), setup.type, setup.request,
                           setup.value, setup.index, setup.length, setup.timeout, result, bytes}));
    return result;
  }

  // Every request but a control transfer. The argument is read first so that the record shows it
  // even when a device that is gone or a recorder without access refuses the request.
  int other(Node& node, unsigned long request, UMockdevIoctlData* arg, IoctlLine& line) {
    const int refused = refusal(node);
    switch (request) {
      case USBDEVFS_CONNECTINFO: {
        Data info = resolve(arg, 0, sizeof(usbdevfs_connectinfo));
        if (!info) {
          return -EFAULT;
        }
        if (refused) {
          return refused;
        }
        as<usbdevfs_connectinfo>(info)->devnum = static_cast<unsigned>(node.devnum);
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
        if (!node.recorder) {
          return 0;
        }
        switch (request) {
          case USBDEVFS_SETCONFIGURATION:
            return node.recorder->set_configuration(static_cast<int>(v));
          case USBDEVFS_CLAIMINTERFACE:
            return node.recorder->claim_interface(v);
          case USBDEVFS_RELEASEINTERFACE:
            return node.recorder->release_interface(v);
          default:
            return node.recorder->clear_halt(v);
        }
      }
      default:
        return refused ? refused : -ENOTTY;
    }
  }

  // USBDEVFS_IOCTL passes a request on to the interface's driver; libusb asks every device's for
  // its hub ports. Only the root hub has them, one per device ever plugged in.
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
    if (!portinfo || !node.device->is_hub()) {
      return -ENOTTY;
    }
    Data ports =
        resolve(command.get(), offsetof(usbdevfs_ioctl, data), sizeof(usbdevfs_hub_portinfo));
    if (!ports) {
      return -EFAULT;
    }
    auto* info = as<usbdevfs_hub_portinfo>(ports);
    std::memset(info, 0, sizeof *info);
    info->nports = static_cast<char>(std::max(next_port_ - 1, 1));
    for (const auto& [devnum, other] : nodes_) {
      if (other->present && !other->device->is_hub()) {
        info->port[other->device->port - 1] = static_cast<char>(devnum);
      }
    }
    return info->nports + 1;
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

  const Options& options_;
  std::mutex mutex_;
  bool verbose_;
  File wire_;
  int step_ = 0;
  int next_devnum_ = 2;
  int next_port_ = 1;
  std::size_t recorders_ = 0;
  std::vector<int> switched_;  // recorders that took switch_msdc, to become disks
  // A foreign disk on a recorder's port, to leave for the recorder's disk.
  struct Later {
    int devnum;
    int port;
    std::string sysfs;
  };
  std::vector<Later> later_;
  int disks_ = 0;
  bool stray_plugged_ = false;
  std::string root_;
  int control_fd_ = -1;
  guint control_source_ = 0;
  std::string pending_;  // what the FIFO gave short of a whole line
  std::map<int, std::unique_ptr<Node>> nodes_;
  Testbed testbed_;  // so that it goes after the copies and no handler outlives what it uses
  std::vector<std::jthread> copies_;  // last: each copy ends before the bus goes
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

bool write_file(const char* path, const std::string& text) {
  const File file(std::fopen(path, "w"));
  return file && std::fputs(text.c_str(), file.get()) >= 0;
}

// An empty tmpfs over journald's sockets, in namespaces of the bus's own.
void hide_journal() {
  constexpr const char* kSockets = "/run/systemd/journal";
  if (!std::filesystem::exists(kSockets)) {
    return;
  }
  const uid_t uid = ::geteuid();
  const gid_t gid = ::getegid();
  const bool root = uid == 0;
  const bool hidden =
      ::unshare(CLONE_NEWNS | (root ? 0 : CLONE_NEWUSER)) == 0 &&
      (root ||
       (write_file("/proc/self/setgroups", "deny") &&
        write_file("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1") &&
        write_file("/proc/self/gid_map",
                   std::to_string(gid) + " " + std::to_string(gid) + " 1"))) &&
      ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
      ::mount("tmpfs", kSockets, "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") == 0;
  if (!hidden) {
    complain(std::string("the programs reach the machine's journal: cannot hide it (") +
             std::strerror(errno) + ")");
  }
}

int main_with(const Options& options) {
  if (!options.journal) {
    hide_journal();
  }
  Testbed testbed(umockdev_testbed_new());
  if (!umockdev_in_mock_environment()) {
    complain("not under umockdev's preload: run it as umockdev-wrapper kbc-emulated-bus ...");
    return kSetupFailed;
  }
  Bus bus(options, std::move(testbed));
  if (options.wire && !bus.open_wire(*options.wire)) {
    return kSetupFailed;
  }
  if (!bus.attach() || (options.control && !bus.open_control(*options.control))) {
    return kSetupFailed;
  }
  int first_failure = 0;
  for (std::size_t step = 0; step < options.programs.size(); ++step) {
    bus.set_step(static_cast<int>(step));
    const int status = run(options.programs[step]);
    bus.take_commands();
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
