// The devices of the emulated bus: what libusb 0.1 reads from their nodes, and where they sit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kbc::emulated {

inline constexpr std::uint16_t kRootHubVendor = 0x1d6b;
inline constexpr std::uint16_t kOtherVendor = 0x046d;  // a mouse, so the recorder is not alone
inline constexpr std::uint16_t kRecorderVendor = 0x4255;
inline constexpr std::uint16_t kRecorderProduct = 0x0007;
inline constexpr int kBus = 1;

enum class Role { root_hub, other, recorder };

struct BusDevice {
  Role role;
  int devnum;
  std::uint16_t vendor;
  std::uint16_t product;
  std::string sysfs;  // below /sys, without it: "/devices/..."
  // Device descriptor followed by the whole configuration, as usbfs serves it on read().
  std::vector<std::uint8_t> descriptors;

  std::string node() const;     // "001/003", as libusb names bus and device
  std::string devnode() const;  // "/dev/bus/usb/001/003"
  bool is_hub() const { return role == Role::root_hub; }
};

// Root hub, the other vendor's device and, unless left out, the recorder: configuration 1,
// interface 0, bulk endpoints 0x01 and 0x81.
std::vector<BusDevice> bus_devices(bool with_recorder);

// The devices in umockdev's description format, for umockdev_testbed_add_from_string().
std::string describe(const std::vector<BusDevice>& devices);

}  // namespace kbc::emulated
