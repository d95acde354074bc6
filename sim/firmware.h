// The recorder's reply rules: one command payload in, one reply out, and the state it changes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "recorder_state.h"

namespace kbc::sim {

class Firmware {
 public:
  RecorderState& state() { return state_; }
  const RecorderState& state() const { return state_; }

  // Carries out one command payload and returns its whole reply (12 bytes, 128 for
  // get_device_info); nullopt when the recorder answers nothing (mass-storage mode).
  std::optional<std::vector<std::uint8_t>> execute(std::span<const std::uint8_t> payload);

 private:
  RecorderState state_;
};

}  // namespace kbc::sim
