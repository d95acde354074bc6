// The port over the real libusb 0.1 library.
#pragma once

#include "port.h"

namespace kbc::link {

class RealPort final : public Port {
 public:
  void init() override;
  int find_busses() override;
  int find_devices() override;
  std::vector<UsbDevice> devices() override;
  std::unique_ptr<DeviceHandle> open(const UsbDevice& device) override;

 private:
  std::vector<void*> listed_;  // struct usb_device* of the last walk, by UsbDevice::index
};

}  // namespace kbc::link
