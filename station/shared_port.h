// The USB port as the station service shares it between its recorders' threads and the scans that
// follow the drawer. libusb 0.1's scan is process-wide and replaces the listing a device is opened
// from, so scans and opens take turns here, and a device is opened from the listing that is
// current then, found by its place on the bus: a listing of an earlier scan is never used, and a
// recorder that left is not opened as whatever took its index.
#pragma once

#include <mutex>
#include <vector>

#include "link/port.h"
#include "link/session.h"

namespace kbc::station {

class SharedPort final : public link::Port {
 public:
  explicit SharedPort(link::Port& inner) : inner_(inner) {}

  // The recorders on the bus now (link::scan_recorders through this port), while no open runs.
  std::vector<link::UsbDevice> scan(link::Pause& pause);

  // Called by scan() alone, on its thread.
  void init() override { inner_.init(); }
  int find_busses() override { return inner_.find_busses(); }
  int find_devices() override { return inner_.find_devices(); }
  std::vector<link::UsbDevice> devices() override;

  // The device at `device`'s place in the current listing; nullptr when none is there now.
  std::unique_ptr<link::DeviceHandle> open(const link::UsbDevice& device) override;

 private:
  link::Port& inner_;
  std::mutex mutex_;
  std::vector<link::UsbDevice> listed_;
};

}  // namespace kbc::station
