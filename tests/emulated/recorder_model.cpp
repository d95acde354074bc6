#include "recorder_model.h"

#include <algorithm>
#include <cerrno>

namespace kbc::emulated {
namespace {

// The recorder's own side of the protocol, written out here rather than taken from link/, so that
// a wrong value there shows as a failing exchange.
constexpr std::uint8_t kVendorOut = 0x40;
constexpr std::uint8_t kVendorIn = 0xc0;
constexpr std::uint8_t kCommandRequest = 0x55;
constexpr std::uint16_t kCommandValue = 0x00aa;
constexpr std::uint16_t kCommandIndex = 0;
constexpr int kConfiguration = 1;
constexpr unsigned kInterface = 0;
constexpr unsigned kBulkOut = 0x01;
constexpr unsigned kBulkIn = 0x81;

}  // namespace

int RecorderModel::refusal() const {
  if (unplugged_) {
    return -ENODEV;
  }
  if (faults_.denied) {
    return -EPERM;
  }
  return 0;
}

int RecorderModel::control(const ControlSetup& setup, std::span<std::uint8_t> data) {
  ++transfers_;
  if (faults_.unplug_at && transfers_ >= *faults_.unplug_at) {
    unplugged_ = true;
  }
  if (const int error = refusal()) {
    return error;
  }
  // The firmware knows one request; anything else stalls the control pipe.
  if (setup.request != kCommandRequest || setup.value != kCommandValue ||
      setup.index != kCommandIndex) {
    return -EPIPE;
  }
  if (setup.type == kVendorOut) {
    reply_ = firmware_.execute(data);
    return static_cast<int>(data.size());
  }
  if (setup.type == kVendorIn) {
    if (!reply_) {
      // Nothing to send: the host's transfer runs into its time-out.
      return -ETIMEDOUT;
    }
    const std::size_t sent = std::min(data.size(), reply_->size());
    std::copy_n(reply_->begin(), sent, data.begin());
    reply_.reset();
    return static_cast<int>(sent);
  }
  return -EPIPE;
}

int RecorderModel::set_configuration(int configuration) const {
  if (const int error = refusal()) {
    return error;
  }
  // 0 and -1 unconfigure, which every device allows.
  return configuration == kConfiguration || configuration == 0 || configuration == -1 ? 0 : -EINVAL;
}

int RecorderModel::claim_interface(unsigned interface) const {
  if (const int error = refusal()) {
    return error;
  }
  return interface == kInterface ? 0 : -ENOENT;
}

int RecorderModel::release_interface(unsigned interface) const {
  return claim_interface(interface);
}

int RecorderModel::clear_halt(unsigned endpoint) const {
  if (const int error = refusal()) {
    return error;
  }
  return endpoint == kBulkOut || endpoint == kBulkIn ? 0 : -ENOENT;
}

}  // namespace kbc::emulated
