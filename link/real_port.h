// The port over the real libusb 0.1 library.
#pragma once

#include <mutex>

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
  // usb_open and usb_close run one at a time: libusb 0.1 promises nothing about threads, and
  // neither does what stands in for the kernel in the emulated tests (umockdev's preload tracks
  // the device's descriptors in a table of its own). Transfers on distinct handles still run at
  // once, and an open takes no time beside a command's pause.
  std::mutex opening_;
};

}  // namespace kbc::link
