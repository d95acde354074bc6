#include "bus_layout.h"

#include <cstdio>

#include "wire.h"

namespace kbc::emulated {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t lo(unsigned value) {
  return static_cast<std::uint8_t>(value & 0xff);
}
constexpr std::uint8_t hi(unsigned value) {
  return static_cast<std::uint8_t>((value >> 8) & 0xff);
}

Bytes device_descriptor(std::uint8_t device_class, std::uint8_t protocol, std::uint16_t vendor,
                        std::uint16_t product) {
  return {18,         1,          lo(0x0200),  hi(0x0200),  device_class, 0,          protocol, 64,
          lo(vendor), hi(vendor), lo(product), hi(product), lo(0x0100),   hi(0x0100), 0,        0,
          0,          1};
}

// Configuration 1 with one interface; its endpoints are appended by the caller.
Bytes configuration(std::uint8_t interface_class, std::uint8_t endpoints, std::uint8_t attributes,
                    std::uint8_t max_power) {
  const unsigned total = 9 + 9 + 7u * endpoints;
  return {9, 2, lo(total), hi(total),       1, 1, 0, attributes, max_power, 9, 4,
          0, 0, endpoints, interface_class, 0, 0, 0};
}

void endpoint(Bytes& bytes, std::uint8_t address, std::uint8_t kind, std::uint16_t packet,
              std::uint8_t interval) {
  bytes.insert(bytes.end(), {7, 5, address, kind, lo(packet), hi(packet), interval});
}

Bytes join(Bytes first, const Bytes& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

constexpr std::uint8_t kHubClass = 9;
constexpr std::uint8_t kHidClass = 3;
constexpr std::uint8_t kVendorClass = 0xff;
constexpr std::uint8_t kBulk = 2;
constexpr std::uint8_t kInterrupt = 3;

BusDevice root_hub() {
  Bytes config = configuration(kHubClass, 1, 0xe0, 0);
  endpoint(config, 0x81, kInterrupt, 4, 12);
  return {Role::root_hub,
          1,
          kRootHubVendor,
          0x0002,
          "/devices/pci0000:00/0000:00:14.0/usb1",
          join(device_descriptor(kHubClass, 1, kRootHubVendor, 0x0002), config)};
}

BusDevice other_device() {
  Bytes config = configuration(kHidClass, 1, 0xa0, 50);
  endpoint(config, 0x81, kInterrupt, 8, 10);
  return {Role::other,
          2,
          kOtherVendor,
          0xc077,
          "/devices/pci0000:00/0000:00:14.0/usb1/1-1",
          join(device_descriptor(0, 0, kOtherVendor, 0xc077), config)};
}

BusDevice recorder() {
  Bytes config = configuration(kVendorClass, 2, 0x80, 250);
  endpoint(config, 0x01, kBulk, 512, 0);
  endpoint(config, 0x81, kBulk, 512, 0);
  return {Role::recorder,
          3,
          kRecorderVendor,
          kRecorderProduct,
          "/devices/pci0000:00/0000:00:14.0/usb1/1-2",
          join(device_descriptor(0, 0, kRecorderVendor, kRecorderProduct), config)};
}

std::string upper_hex(const Bytes& bytes) {
  std::string digits = hex(bytes);
  for (char& c : digits) {
    if (c >= 'a' && c <= 'f') {
      c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return digits;
}

}  // namespace

std::string BusDevice::node() const {
  char name[16];
  std::snprintf(name, sizeof name, "%03d/%03d", kBus, devnum);
  return name;
}

std::string BusDevice::devnode() const {
  return "/dev/bus/usb/" + node();
}

std::vector<BusDevice> bus_devices(bool with_recorder) {
  std::vector<BusDevice> devices{root_hub(), other_device()};
  if (with_recorder) {
    devices.push_back(recorder());
  }
  return devices;
}

std::string describe(const std::vector<BusDevice>& devices) {
  std::string text;
  char line[128];
  for (const BusDevice& d : devices) {
    // usb_device nodes are major 189, minor (bus - 1) * 128 + devnum - 1.
    const int minor = (kBus - 1) * 128 + d.devnum - 1;
    text += "P: " + d.sysfs + "\n";
    text += "N: bus/usb/" + d.node() + "=" + upper_hex(d.descriptors) + "\n";
    text += "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=/dev/bus/usb/" + d.node() + "\n";
    std::snprintf(line, sizeof line, "E: BUSNUM=%03d\nE: DEVNUM=%03d\n", kBus, d.devnum);
    text += line;
    std::snprintf(line, sizeof line, "A: dev=189:%d\nA: busnum=%d\nA: devnum=%d\n", minor, kBus,
                  d.devnum);
    text += line;
    std::snprintf(line, sizeof line, "A: idVendor=%04x\nA: idProduct=%04x\n", d.vendor, d.product);
    text += line;
    text += "H: descriptors=" + upper_hex(d.descriptors) + "\n\n";
  }
  return text;
}

}  // namespace kbc::emulated
