#include "offload/disk_watch.h"

#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstring>

#include "link/descriptor.h"
#include "link/owned.h"

namespace kbc::offload {
namespace {

using Udev = link::Owned<udev, udev_unref>;
using Device = link::Owned<udev_device, udev_device_unref>;
using Enumerate = link::Owned<udev_enumerate, udev_enumerate_unref>;
using Monitor = link::Owned<udev_monitor, udev_monitor_unref>;

std::string_view text(const char* value) {
  return value != nullptr ? std::string_view(value) : std::string_view();
}

// A number as sysfs and libusb write it, leading zeros or not.
std::optional<int> number(std::string_view digits) {
  int value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) {
    return std::nullopt;
  }
  return value;
}

bool fat(std::string_view type) {
  return type == "vfat" || type == "exfat";
}

constexpr std::string_view kRecorderVendor = "4255";

// The device node to read when `device` is the recorder's disk, or its FAT partition. A disk of
// another vendor on the port is named in `ignored`, once.
std::optional<std::string> disk_node(udev_device* device, std::string_view port,
                                     std::vector<std::string>& ignored) {
  // The parent is owned by the child: no reference of ours.
  udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
  if (usb == nullptr || text(udev_device_get_sysname(usb)) != port) {
    return std::nullopt;
  }
  const std::string_view vendor = text(udev_device_get_sysattr_value(usb, "idVendor"));
  if (vendor != kRecorderVendor) {
    const char* node = udev_device_get_devnode(device);
    const std::string named =
        std::string(node != nullptr ? node : "a disk") + " (USB " + std::string(vendor) + ":" +
        std::string(text(udev_device_get_sysattr_value(usb, "idProduct"))) + ")";
    if (text(udev_device_get_devtype(device)) == "disk" &&
        std::find(ignored.begin(), ignored.end(), named) == ignored.end()) {
      ignored.push_back(named);
    }
    return std::nullopt;
  }
  const std::string_view type = text(udev_device_get_property_value(device, "ID_FS_TYPE"));
  const std::string_view kind = text(udev_device_get_devtype(device));
  const bool whole =
      kind == "disk" && udev_device_get_property_value(device, "ID_PART_TABLE_TYPE") == nullptr;
  if (!fat(type) || (kind != "partition" && !whole)) {
    return std::nullopt;
  }
  const char* node = udev_device_get_devnode(device);
  return node != nullptr ? std::optional<std::string>(node) : std::nullopt;
}

}  // namespace

std::optional<std::string> UdevDiskWatch::port_of(std::string_view location) {
  const std::size_t slash = location.find('/');
  const auto bus = number(location.substr(0, slash));
  const auto device =
      slash == std::string_view::npos ? std::nullopt : number(location.substr(slash + 1));
  const Udev context(udev_new());
  const Enumerate devices(context ? udev_enumerate_new(context.get()) : nullptr);
  if (!bus || !device || !devices) {
    return std::nullopt;
  }
  udev_enumerate_add_match_subsystem(devices.get(), "usb");
  udev_enumerate_add_match_property(devices.get(), "DEVTYPE", "usb_device");
  udev_enumerate_scan_devices(devices.get());
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(devices.get())) {
    const Device usb(udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
    if (usb && number(text(udev_device_get_sysattr_value(usb.get(), "busnum"))) == bus &&
        number(text(udev_device_get_sysattr_value(usb.get(), "devnum"))) == device) {
      return std::string(text(udev_device_get_sysname(usb.get())));
    }
  }
  return std::nullopt;
}

WaitedDisk UdevDiskWatch::wait_for_disk(std::string_view port, std::chrono::milliseconds timeout,
                                        std::stop_token stop) {
  WaitedDisk waited;
  const Udev context(udev_new());
  const Monitor monitor(context ? udev_monitor_new_from_netlink(context.get(), "udev") : nullptr);
  if (!monitor ||
      udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "block", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor.get()) < 0) {
    return waited;
  }
  // Listening before looking, so that no disk comes between the two unseen.
  const Enumerate present(udev_enumerate_new(context.get()));
  if (present) {
    udev_enumerate_add_match_subsystem(present.get(), "block");
    udev_enumerate_scan_devices(present.get());
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(present.get())) {
      const Device block(
          udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
      if (block) {
        if ((waited.node = disk_node(block.get(), port, waited.ignored))) {
          return waited;
        }
      }
    }
  }

  // The stop request wakes the wait at once.
  const link::Descriptor wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  const std::stop_callback on_stop(stop, [&] {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake.get(), &one, sizeof one);
  });
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!stop.stop_requested()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      return waited;
    }
    pollfd fds[2] = {{udev_monitor_get_fd(monitor.get()), POLLIN, 0}, {wake.get(), POLLIN, 0}};
    const int ready = ::poll(fds, 2, static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) {
      return waited;
    }
    if (ready <= 0 || (fds[0].revents & POLLIN) == 0) {
      continue;
    }
    const Device block(udev_monitor_receive_device(monitor.get()));
    if (block && text(udev_device_get_action(block.get())) != "remove") {
      if ((waited.node = disk_node(block.get(), port, waited.ignored))) {
        return waited;
      }
    }
  }
  return waited;
}

}  // namespace kbc::offload
