// The emulated recorder's answers to the usbfs requests libusb 0.1 makes of it, kept apart from
// umockdev so that they can be tested on their own.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/firmware.h"

namespace kbc::emulated {

struct ControlSetup {
  std::uint8_t type = 0;
  std::uint8_t request = 0;
  std::uint16_t value = 0;
  std::uint16_t index = 0;
  std::uint16_t length = 0;
  std::uint32_t timeout = 0;
};

struct Faults {
  // From this control transfer on (counted from 1) every request fails with ENODEV.
  std::optional<unsigned> unplug_at;
  // Every request fails with EPERM, as on a node libusb could only open read-only.
  bool denied = false;
};

// Not thread-safe; the caller serialises.
class RecorderModel {
 public:
  explicit RecorderModel(Faults faults) : faults_(faults) {}

  sim::RecorderState& state() { return firmware_.state(); }

  // 0, or the error every request gets from an unplugged or access-denied recorder.
  int refusal() const;
  bool unplugged() const { return unplugged_; }
  // Pulled out: every request from now on fails with ENODEV.
  void unplug() { unplugged_ = true; }

  // One control transfer: `data` holds the OUT data stage or receives the IN one. Bytes
  // transferred, or -errno.
  int control(const ControlSetup& setup, std::span<std::uint8_t> data);

  int set_configuration(int configuration) const;
  int claim_interface(unsigned interface) const;
  int release_interface(unsigned interface) const;
  int clear_halt(unsigned endpoint) const;

 private:
  Faults faults_;
  sim::Firmware firmware_;
  std::optional<std::vector<std::uint8_t>> reply_;  // what the next IN transfer returns
  unsigned transfers_ = 0;
  bool unplugged_ = false;
};

}  // namespace kbc::emulated
