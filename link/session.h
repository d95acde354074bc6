// One session with the recorder: scan the busses, open the recorder, check and prepare it, and
// close it again when the session object goes away.
#pragma once

#include <memory>
#include <optional>

#include "port.h"
#include "timing.h"

namespace kbc::link {

inline constexpr std::uint16_t kRecorderVendor = 0x4255;
inline constexpr int kConfiguration = 1;
inline constexpr int kInterface = 0;
inline constexpr unsigned kEndpointOut = 0x01;
inline constexpr unsigned kEndpointIn = 0x81;

// What the recorder needs from the outside world: the bus and a way to wait.
struct Link {
  Port& port;
  Pause& pause;
};

struct CheckResult {
  enum class Kind { ready, wrong_device, configuration_failed };
  Kind kind;
  int code = 0;  // the libusb code when the configuration failed

  // The value the original tool used: 1 ready, 0 wrong device, the negative code otherwise.
  int value() const;
};

// Checks the vendor and prepares an opened device: configuration 1, interface 0, halt clears.
CheckResult open_and_check(const UsbDevice& device, DeviceHandle& handle, Pause& pause);

// The open handle with the pause every command waits before it is sent.
class Device {
 public:
  Device(DeviceHandle& handle, Pause& pause) : handle_(&handle), pause_(&pause) {}
  DeviceHandle& handle() { return *handle_; }
  Pause& pause() { return *pause_; }

 private:
  DeviceHandle* handle_;
  Pause* pause_;
};

class Session {
 public:
  enum class State { ready, no_device, wrong_device, configuration_failed, closed };

  // Runs the whole opening sequence; the result tells whether commands may be sent.
  static Session open(Link& link);

  Session(Session&&) noexcept = default;
  Session& operator=(Session&&) noexcept = default;
  ~Session() = default;

  State state() const { return state_; }
  bool ready() const { return state_ == State::ready; }
  int configuration_error() const { return configuration_error_; }

  // Only valid while ready().
  Device& device() { return *device_; }

  // Closes the handle now (usb_close); the session is no longer ready afterwards.
  void close();

 private:
  Session(State state, int configuration_error, std::unique_ptr<DeviceHandle> handle, Pause& pause);

  State state_;
  int configuration_error_;
  std::unique_ptr<DeviceHandle> handle_;
  std::optional<Device> device_;
};

}  // namespace kbc::link
