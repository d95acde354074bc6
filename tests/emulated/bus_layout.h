// The devices of the emulated bus: what libusb 0.1 reads from their nodes, and where they sit.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kbc::emulated {

inline constexpr std::uint16_t kRootHubVendor = 0x1d6b;
inline constexpr std::uint16_t kOtherVendor = 0x046d;  // a mouse, so the recorder is not alone
inline constexpr std::uint16_t kRecorderVendor = 0x4255;
inline constexpr std::uint16_t kRecorderProduct = 0x0007;
inline constexpr int kBus = 1;
// Device numbers the bus hands out, the root hub's (1) included, as the kernel numbers one bus.
inline constexpr int kLastDevnum = 127;

enum class Role { root_hub, other, recorder, disk };

// What a recorder shows once switched to mass storage, and a USB flash disk of another vendor.
inline constexpr std::uint16_t kRecorderDiskProduct = 0x0008;
inline constexpr std::uint16_t kFlashVendor = 0x0781;

// A device to plug in: "mouse", "recorder" or "recorder=SERIAL" in a layout.
struct Plug {
  Role role;
  std::string serial;  // a recorder's get_sn text

  friend bool operator==(const Plug&, const Plug&) = default;
};

// The bus most tests use: the root hub, a mouse and one recorder.
inline constexpr std::string_view kDefaultLayout = "mouse,recorder";

// The devices after the root hub, in bus order, from a comma-separated layout such as
// "recorder=A,mouse,recorder". A recorder without a serial gets the simulated one of its place
// among the recorders (KBC0001, KBC0002, ...). nullopt for an unknown word, an empty
// layout, or a serial that is empty, longer than get_sn's 10 bytes or not plain ASCII.
std::optional<std::vector<Plug>> parse_layout(std::string_view layout);
// One word of a layout; `recorders` counts the recorders before it.
std::optional<Plug> parse_plug(std::string_view word, std::size_t recorders);

struct BusDevice {
  Role role;
  int devnum;
  int port;  // on the root hub, from 1; 0 for the hub itself
  std::uint16_t vendor;
  std::uint16_t product;
  std::string serial;
  std::string sysfs;  // below /sys, without it: "/devices/..."
  // Device descriptor followed by the whole configuration, as usbfs serves it on read().
  std::vector<std::uint8_t> descriptors;

  std::string node() const;     // "001/003", as libusb names bus and device
  std::string devnode() const;  // "/dev/bus/usb/001/003"
  bool is_hub() const { return role == Role::root_hub; }
};

BusDevice root_hub();
// A mouse, or a recorder: configuration 1, interface 0, bulk endpoints 0x01 and 0x81.
BusDevice plugged(const Plug& plug, int devnum, int port);

// A USB disk (mass storage, bulk-only) of this vendor and product.
BusDevice disk_device(int devnum, int port, std::uint16_t vendor, std::uint16_t product);

// The block devices of a USB disk at `usb_sysfs`: the disk `name` ("sdb"), and where the FAT
// volume lies at `offset` > 0, its first partition ("sdb1"); `minor` of major 8 numbers the disk.
// `fs_type` is what udev's blkid says of the volume ("vfat", "exfat").
std::string describe_disk(const std::string& usb_sysfs, const std::string& name, int minor,
                          bool partitioned, const std::string& fs_type);

// The root hub (001/001), then the layout's devices numbered from 2 on the hub's ports from 1.
std::vector<BusDevice> bus_devices(const std::vector<Plug>& layout);

// The devices in umockdev's description format, for umockdev_testbed_add_from_string().
std::string describe(const std::vector<BusDevice>& devices);

}  // namespace kbc::emulated
