#include "station/arrivals.h"

#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <string_view>
#include <utility>

#include "link/descriptor.h"
#include "link/port.h"

namespace kbc::station {
namespace {

struct UdevUnref {
  void operator()(udev* context) const { udev_unref(context); }
  void operator()(udev_monitor* monitor) const { udev_monitor_unref(monitor); }
  void operator()(udev_device* device) const { udev_device_unref(device); }
};

}  // namespace

struct UdevArrivals::Monitor {
  std::unique_ptr<udev, UdevUnref> context;
  std::unique_ptr<udev_monitor, UdevUnref> monitor;
  link::Descriptor wake{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
};

UdevArrivals::UdevArrivals(std::unique_ptr<Monitor> monitor) : monitor_(std::move(monitor)) {}

UdevArrivals::~UdevArrivals() = default;

std::variant<std::unique_ptr<UdevArrivals>, std::string> UdevArrivals::start() {
  auto monitor = std::make_unique<Monitor>();
  monitor->context.reset(udev_new());
  if (!monitor->context) {
    return std::string("no udev context");
  }
  monitor->monitor.reset(udev_monitor_new_from_netlink(monitor->context.get(), "udev"));
  if (!monitor->monitor ||
      udev_monitor_filter_add_match_subsystem_devtype(monitor->monitor.get(), "usb", "usb_device") <
          0 ||
      udev_monitor_enable_receiving(monitor->monitor.get()) < 0) {
    return std::string("the udev monitor does not receive");
  }
  if (monitor->wake.get() < 0) {
    return std::string("no eventfd");
  }
  return std::make_unique<UdevArrivals>(std::move(monitor));
}

std::vector<BusEvent> UdevArrivals::wait(std::stop_token stop) {
  const int wake = monitor_->wake.get();
  const std::stop_callback woken(stop, [wake] {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake, &one, sizeof one);
  });
  std::vector<BusEvent> events;
  while (events.empty() && !stop.stop_requested()) {
    pollfd fds[2] = {{udev_monitor_get_fd(monitor_->monitor.get()), POLLIN, 0}, {wake, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      continue;
    }
    while (std::unique_ptr<udev_device, UdevUnref> device{
        udev_monitor_receive_device(monitor_->monitor.get())}) {
      const char* node = udev_device_get_devnode(device.get());
      const char* action = udev_device_get_action(device.get());
      const std::string_view location = link::usbfs_location(node != nullptr ? node : "");
      const std::string_view what(action != nullptr ? action : "");
      if (!location.empty() && (what == "add" || what == "remove")) {
        events.push_back({std::string(location), what == "add"});
      }
    }
  }
  return events;
}

SimArrivals::SimArrivals(sim::SimBus& bus) : bus_(bus) {
  bus_.set_hotplug_listener([this](const std::string& location, bool arrived) {
    {
      const std::lock_guard lock(mutex_);
      events_.push_back({location, arrived});
    }
    heard_.notify_all();
  });
}

SimArrivals::~SimArrivals() {
  bus_.set_hotplug_listener({});
}

std::vector<BusEvent> SimArrivals::wait(std::stop_token stop) {
  std::unique_lock lock(mutex_);
  heard_.wait(lock, stop, [this] { return !events_.empty(); });
  return std::exchange(events_, {});
}

}  // namespace kbc::station
