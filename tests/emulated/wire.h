// The emulated bus's record of what reached the devices, one line per event:
//
//   control step=0 node=001/003 vendor=4255 type=40 request=55 value=00aa index=0000 length=18
//           timeout=1000 result=18 data=3338383838383800000000000000000000
//   ioctl step=0 node=001/003 vendor=4255 name=setconfiguration arg=1 result=0
//   uevent step=0 node=001/004 vendor=4255 action=add
//   exit step=0 status=0
//
// (each on one line). `control` is a USBDEVFS_CONTROL transfer: setup fields in hex, length and
// timeout (ms) in decimal, result as libusb 0.1 returns it (bytes transferred or -errno), data in
// hex: what the host sent for OUT, what the device returned for IN (empty on failure). `ioctl` is
// any other usbdevfs request with its integer argument where it has one. `uevent` is a device
// plugged in ("add") or pulled out ("remove") while a program ran. `exit` ends each program the
// bus ran. `step` counts the programs from 0.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kbc::emulated {

struct ControlLine {
  int step = 0;
  std::string node;
  std::uint16_t vendor = 0;
  std::uint8_t type = 0;
  std::uint8_t request = 0;
  std::uint16_t value = 0;
  std::uint16_t index = 0;
  std::uint16_t length = 0;
  std::uint32_t timeout = 0;
  int result = 0;
  std::vector<std::uint8_t> data;

  friend bool operator==(const ControlLine&, const ControlLine&) = default;
};

struct IoctlLine {
  int step = 0;
  std::string node;
  std::uint16_t vendor = 0;
  std::string name;
  std::optional<long> arg;
  int result = 0;

  friend bool operator==(const IoctlLine&, const IoctlLine&) = default;
};

struct UeventLine {
  int step = 0;
  std::string node;
  std::uint16_t vendor = 0;
  std::string action;

  friend bool operator==(const UeventLine&, const UeventLine&) = default;
};

struct ExitLine {
  int step = 0;
  int status = 0;

  friend bool operator==(const ExitLine&, const ExitLine&) = default;
};

std::string format(const ControlLine& line);
std::string format(const IoctlLine& line);
std::string format(const UeventLine& line);
std::string format(const ExitLine& line);

// What a whole record file holds, each kind in file order.
struct Wire {
  std::vector<ControlLine> controls;
  std::vector<IoctlLine> ioctls;
  std::vector<UeventLine> uevents;
  std::vector<ExitLine> exits;
};

// nullopt when a line is not one of the forms above.
std::optional<Wire> parse_wire(std::string_view text);
std::optional<Wire> read_wire(const std::string& path);

std::string hex(const std::vector<std::uint8_t>& bytes);

}  // namespace kbc::emulated
