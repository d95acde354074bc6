// Where a recorder's disk appears once the recorder has switched to mass storage: on the same USB
// port, as a block device whose USB ancestor has the port path the recorder had and the
// recorder's vendor (0x4255). Only that disk is ever taken: any other disk plugged in meanwhile,
// on that port or another, is not opened.
#pragma once

#include <chrono>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace kbc::offload {

struct WaitedDisk {
  std::optional<std::string> node;  // the recorder's disk; nullopt when none came
  // Disks of other vendors that came on the port meanwhile: "/dev/sdd (USB 0781:5567)".
  std::vector<std::string> ignored;
};

class DiskWatch {
 public:
  virtual ~DiskWatch() = default;
  // The port path ("1-2.3") of the USB device libusb lists at `location` ("001/005"); nullopt
  // when no such device is known.
  virtual std::optional<std::string> port_of(std::string_view location) = 0;
  // The device node of the recorder's disk that appears on `port`: its partition holding
  // FAT12/16/32 or exFAT, or the whole disk when it has no partition table and holds one itself.
  // None when none did within `timeout`, or when `stop` was asked.
  virtual WaitedDisk wait_for_disk(std::string_view port, std::chrono::milliseconds timeout,
                                   std::stop_token stop) = 0;
};

// udev's view of the devices (libudev): its database and a monitor of the block devices.
class UdevDiskWatch final : public DiskWatch {
 public:
  std::optional<std::string> port_of(std::string_view location) override;
  WaitedDisk wait_for_disk(std::string_view port, std::chrono::milliseconds timeout,
                           std::stop_token stop) override;
};

}  // namespace kbc::offload
