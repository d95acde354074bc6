#include "real_port.h"

#include <usb.h>

namespace kbc::link {
namespace {

class RealHandle final : public DeviceHandle {
 public:
  RealHandle(usb_dev_handle* handle, std::mutex& opening) : handle_(handle), opening_(opening) {}
  RealHandle(const RealHandle&) = delete;
  RealHandle& operator=(const RealHandle&) = delete;
  ~RealHandle() override {
    const std::lock_guard lock(opening_);
    usb_close(handle_);
  }

  int set_configuration(int configuration) override {
    return usb_set_configuration(handle_, configuration);
  }
  int claim_interface(int interface) override { return usb_claim_interface(handle_, interface); }
  int clear_halt(unsigned endpoint) override { return usb_clear_halt(handle_, endpoint); }
  int control_msg(int request_type, int request, int value, int index,
                  std::span<std::uint8_t> bytes, int timeout_ms) override {
    return usb_control_msg(handle_, request_type, request, value, index,
                           reinterpret_cast<char*>(bytes.data()), static_cast<int>(bytes.size()),
                           timeout_ms);
  }

 private:
  usb_dev_handle* handle_;
  std::mutex& opening_;
};

}  // namespace

void RealPort::init() {
  usb_init();
}

int RealPort::find_busses() {
  return usb_find_busses();
}

int RealPort::find_devices() {
  return usb_find_devices();
}

std::vector<UsbDevice> RealPort::devices() {
  listed_.clear();
  std::vector<UsbDevice> result;
  for (usb_bus* bus = usb_get_busses(); bus != nullptr; bus = bus->next) {
    for (struct usb_device* dev = bus->devices; dev != nullptr; dev = dev->next) {
      result.push_back({bus->dirname, dev->filename, dev->descriptor.idVendor,
                        dev->descriptor.idProduct, listed_.size()});
      listed_.push_back(dev);
    }
  }
  return result;
}

std::unique_ptr<DeviceHandle> RealPort::open(const UsbDevice& device) {
  if (device.index >= listed_.size()) {
    return nullptr;
  }
  const std::lock_guard lock(opening_);
  usb_dev_handle* handle = usb_open(static_cast<struct usb_device*>(listed_[device.index]));
  if (handle == nullptr) {
    return nullptr;
  }
  return std::make_unique<RealHandle>(handle, opening_);
}

}  // namespace kbc::link
