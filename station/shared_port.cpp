#include "station/shared_port.h"

#include <algorithm>

#include "link/recorders.h"

namespace kbc::station {

std::vector<link::UsbDevice> SharedPort::scan(link::Pause& pause) {
  const std::lock_guard lock(mutex_);
  link::Link link{*this, pause};
  return link::scan_recorders(link);
}

std::vector<link::UsbDevice> SharedPort::devices() {
  listed_ = inner_.devices();
  return listed_;
}

std::unique_ptr<link::DeviceHandle> SharedPort::open(const link::UsbDevice& device) {
  const std::lock_guard lock(mutex_);
  const auto current = std::ranges::find_if(listed_, [&](const link::UsbDevice& listed) {
    return listed.bus == device.bus && listed.filename == device.filename &&
           listed.vendor == device.vendor && listed.product == device.product;
  });
  return current == listed_.end() ? nullptr : inner_.open(*current);
}

}  // namespace kbc::station
