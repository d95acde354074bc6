// The libusb 0.1 calls a recorder session makes, as an interface, so that the session and the
// command layer run unchanged over the real library, the simulated recorder or a test double.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kbc::link {

// One entry of the usb_get_busses() walk: a device as libusb lists it.
struct UsbDevice {
  std::string bus;       // usb_bus::dirname
  std::string filename;  // usb_device::filename
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
  std::size_t index = 0;  // position in the walk; only meaningful to the port that listed it

  // Where the device sits, as the operator names it: "001/005".
  std::string location() const { return bus + "/" + filename; }
};

// The location of the device whose usbfs node is `node` ("/dev/bus/usb/001/005" is at "001/005"),
// as udev names the node; empty for any other node.
inline std::string_view usbfs_location(std::string_view node) {
  constexpr std::string_view kFolder = "/dev/bus/usb/";
  return node.starts_with(kFolder) ? node.substr(kFolder.size()) : std::string_view();
}

// An open device (usb_dev_handle). Destroying it is usb_close.
class DeviceHandle {
 public:
  virtual ~DeviceHandle() = default;
  virtual int set_configuration(int configuration) = 0;
  virtual int claim_interface(int interface) = 0;
  virtual int clear_halt(unsigned endpoint) = 0;
  // usb_control_msg: returns the number of bytes transferred, or a negative libusb code.
  virtual int control_msg(int request_type, int request, int value, int index,
                          std::span<std::uint8_t> bytes, int timeout_ms) = 0;
};

// The scan (init, the two finds, devices()) is process-wide in libusb 0.1 and runs on one thread
// at a time. Once a scan has listed its devices, open() may run on several threads at once for
// different devices of that listing, and each handle on the thread that opened it; the next
// devices() call ends the listing, so no open() may run across it.
class Port {
 public:
  virtual ~Port() = default;
  virtual void init() = 0;
  virtual int find_busses() = 0;
  virtual int find_devices() = 0;
  // Every device of every bus, in bus order and then device list order.
  virtual std::vector<UsbDevice> devices() = 0;
  // usb_open; nullptr when the device does not open.
  virtual std::unique_ptr<DeviceHandle> open(const UsbDevice& device) = 0;
};

}  // namespace kbc::link
