#include "bus_layout.h"

#include <algorithm>
#include <cstdio>

#include "sim/recorder_state.h"
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

std::string upper_hex(const Bytes& bytes) {
  std::string digits = hex(bytes);
  for (char& c : digits) {
    if (c >= 'a' && c <= 'f') {
      c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return digits;
}

std::string sysfs_at(int port) {
  return "/devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(port);
}

}  // namespace

std::optional<Plug> parse_plug(std::string_view word, std::size_t recorders) {
  if (word == "mouse") {
    return Plug{Role::other, {}};
  }
  if (word == "recorder") {
    return Plug{Role::recorder, sim::simulated_serial(recorders + 1)};
  }
  constexpr std::string_view kNamed = "recorder=";
  if (!word.starts_with(kNamed)) {
    return std::nullopt;
  }
  const std::string_view serial = word.substr(kNamed.size());
  constexpr std::size_t kSerialBytes = 10;
  const bool plain = std::all_of(serial.begin(), serial.end(),
                                 [](char c) { return c > ' ' && c < 0x7f && c != ','; });
  if (serial.empty() || serial.size() > kSerialBytes || !plain) {
    return std::nullopt;
  }
  return Plug{Role::recorder, std::string(serial)};
}

std::optional<std::vector<Plug>> parse_layout(std::string_view layout) {
  std::vector<Plug> plugs;
  std::size_t recorders = 0;
  while (!layout.empty()) {
    const std::size_t comma = layout.find(',');
    const auto plug = parse_plug(layout.substr(0, comma), recorders);
    if (!plug) {
      return std::nullopt;
    }
    recorders += plug->role == Role::recorder;
    plugs.push_back(*plug);
    layout = comma == std::string_view::npos ? std::string_view() : layout.substr(comma + 1);
    if (comma != std::string_view::npos && layout.empty()) {
      return std::nullopt;  // a trailing comma
    }
  }
  if (plugs.empty() || static_cast<int>(plugs.size()) >= kLastDevnum) {
    return std::nullopt;
  }
  return plugs;
}

BusDevice root_hub() {
  Bytes config = configuration(kHubClass, 1, 0xe0, 0);
  endpoint(config, 0x81, kInterrupt, 4, 12);
  return {Role::root_hub,
          1,
          0,
          kRootHubVendor,
          0x0002,
          {},
          "/devices/pci0000:00/0000:00:14.0/usb1",
          join(device_descriptor(kHubClass, 1, kRootHubVendor, 0x0002), config)};
}

BusDevice plugged(const Plug& plug, int devnum, int port) {
  if (plug.role == Role::recorder) {
    Bytes config = configuration(kVendorClass, 2, 0x80, 250);
    endpoint(config, 0x01, kBulk, 512, 0);
    endpoint(config, 0x81, kBulk, 512, 0);
    return {Role::recorder,
            devnum,
            port,
            kRecorderVendor,
            kRecorderProduct,
            plug.serial,
            sysfs_at(port),
            join(device_descriptor(0, 0, kRecorderVendor, kRecorderProduct), config)};
  }
  Bytes config = configuration(kHidClass, 1, 0xa0, 50);
  endpoint(config, 0x81, kInterrupt, 8, 10);
  return {Role::other,    devnum,
          port,           kOtherVendor,
          0xc077,         {},
          sysfs_at(port), join(device_descriptor(0, 0, kOtherVendor, 0xc077), config)};
}

BusDevice disk_device(int devnum, int port, std::uint16_t vendor, std::uint16_t product) {
  constexpr std::uint8_t kMassStorageClass = 8;
  Bytes config = configuration(kMassStorageClass, 2, 0x80, 250);
  endpoint(config, 0x81, kBulk, 512, 0);
  endpoint(config, 0x02, kBulk, 512, 0);
  return {
      Role::disk, devnum, port,           vendor,
      product,    {},     sysfs_at(port), join(device_descriptor(0, 0, vendor, product), config)};
}

std::string describe_disk(const std::string& usb_sysfs, const std::string& name, int minor,
                          bool partitioned, const std::string& fs_type) {
  const std::string interface = usb_sysfs.substr(usb_sysfs.rfind('/') + 1) + ":1.0";
  const std::string disk = usb_sysfs + "/" + interface + "/host0/target0:0:0/0:0:0:0/block/" + name;
  std::string text = "P: " + disk + "\nE: SUBSYSTEM=block\nE: DEVTYPE=disk\nE: DEVNAME=/dev/" +
                     name + "\nA: dev=8:" + std::to_string(minor) + "\n";
  text += partitioned ? "E: ID_PART_TABLE_TYPE=dos\n" : "E: ID_FS_TYPE=" + fs_type + "\n";
  text += "\n";
  if (partitioned) {
    text += "P: " + disk + "/" + name + "1\nE: SUBSYSTEM=block\nE: DEVTYPE=partition\n" +
            "E: DEVNAME=/dev/" + name + "1\nE: ID_FS_TYPE=" + fs_type +
            "\nA: dev=8:" + std::to_string(minor + 1) + "\nA: partition=1\n\n";
  }
  return text;
}

std::string BusDevice::node() const {
  char name[16];
  std::snprintf(name, sizeof name, "%03d/%03d", kBus, devnum);
  return name;
}

std::string BusDevice::devnode() const {
  return "/dev/bus/usb/" + node();
}

std::vector<BusDevice> bus_devices(const std::vector<Plug>& layout) {
  std::vector<BusDevice> devices{root_hub()};
  for (std::size_t i = 0; i < layout.size(); ++i) {
    const int port = static_cast<int>(i) + 1;
    devices.push_back(plugged(layout[i], port + 1, port));
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
    // As the kernel and udev's usb_id name the device, so that a "remove" event still tells it.
    std::snprintf(line, sizeof line,
                  "E: PRODUCT=%x/%x/100\nE: ID_VENDOR_ID=%04x\nE: ID_MODEL_ID=%04x\n", d.vendor,
                  d.product, d.vendor, d.product);
    text += line;
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
