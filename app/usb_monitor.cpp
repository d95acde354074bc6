#include "app/usb_monitor.h"

#include <libudev.h>

#include <QSocketNotifier>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>

#include "link/port.h"
#include "link/session.h"

namespace kbc::app {
namespace {

struct DeviceUnref {
  void operator()(udev_device* device) const { udev_device_unref(device); }
};

std::string_view text_of(const char* text) {
  return text ? std::string_view(text) : std::string_view();
}

// "001/005" from the device node /dev/bus/usb/001/005; empty for another node.
QString location_of(udev_device* device) {
  const std::string_view location = link::usbfs_location(text_of(udev_device_get_devnode(device)));
  return QString::fromUtf8(location.data(), static_cast<qsizetype>(location.size()));
}

// udev's ID_VENDOR_ID ("4255"); nullopt where udev's rules did not tell it.
std::optional<std::uint16_t> vendor_of(udev_device* device) {
  const std::string_view text = text_of(udev_device_get_property_value(device, "ID_VENDOR_ID"));
  std::uint16_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

void UsbMonitor::UdevUnref::operator()(udev* context) const {
  udev_unref(context);
}

void UsbMonitor::UdevUnref::operator()(udev_monitor* monitor) const {
  udev_monitor_unref(monitor);
}

UsbMonitor::UsbMonitor(QObject* parent) : QObject(parent) {}

UsbMonitor::~UsbMonitor() = default;

bool UsbMonitor::start(QString* why) {
  udev_.reset(udev_new());
  if (!udev_) {
    *why = QStringLiteral("no udev context");
    return false;
  }
  // Events as udev passes them on, once its rules have run and the node is there.
  monitor_.reset(udev_monitor_new_from_netlink(udev_.get(), "udev"));
  if (!monitor_) {
    *why = QStringLiteral("no udev monitor");
    return false;
  }
  if (udev_monitor_filter_add_match_subsystem_devtype(monitor_.get(), "usb", "usb_device") < 0 ||
      udev_monitor_enable_receiving(monitor_.get()) < 0) {
    *why = QStringLiteral("the udev monitor does not receive");
    monitor_.reset();
    return false;
  }
  notifier_ = new QSocketNotifier(udev_monitor_get_fd(monitor_.get()), QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &UsbMonitor::read_events);
  return true;
}

void UsbMonitor::read_events() {
  // The socket does not block: read what is there, then wait for the notifier again.
  while (const std::unique_ptr<udev_device, DeviceUnref> device{
      udev_monitor_receive_device(monitor_.get())}) {
    const std::string_view action = text_of(udev_device_get_action(device.get()));
    if (action != "add" && action != "remove") {
      continue;
    }
    const QString location = location_of(device.get());
    const auto vendor = vendor_of(device.get());
    if (!location.isEmpty() && (!vendor || *vendor == link::kRecorderVendor)) {
      emit recorder_plugged(location);
    }
  }
}

}  // namespace kbc::app
