// One session with the recorder: scan the busses, open the recorder, prepare it, and close it again
// when the session object goes away.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>

#include "port.h"
#include "timing.h"

namespace kbc::link {

inline constexpr std::uint16_t kRecorderVendor = 0x4255;
inline constexpr int kConfiguration = 1;
inline constexpr int kInterface = 0;
inline constexpr unsigned kEndpointOut = 0x01;
inline constexpr unsigned kEndpointIn = 0x81;

// What the recorder needs from the outside world: the bus, a way to wait, and which recorder.
struct Link {
  Port& port;
  Pause& pause;
  // The recorder chosen by its location ("001/005"); without one, the only recorder on the bus.
  std::optional<std::string> location{};
};

// The recorder among `recorders` that `location` names, or the only one when it names none;
// nullptr when that one is not there or several are and none is named.
const UsbDevice* chosen_recorder(std::span<const UsbDevice> recorders,
                                 const std::optional<std::string>& location);

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
  enum class State {
    ready,
    no_device,             // no recorder, the chosen one is gone, or it did not open
    several_recorders,     // more than one recorder and none chosen: nothing was opened
    configuration_failed,  // opened, but usb_set_configuration failed; closed again
  };

  // Scans the bus and opens the chosen recorder, or the only one when none is chosen.
  static Session open(Link& link);
  // Opens a recorder that scan_recorders() listed in the port's last scan, without scanning again.
  static Session open_listed(Link& link, const UsbDevice& device);

  Session(Session&&) noexcept = default;
  Session& operator=(Session&&) noexcept = default;
  ~Session() = default;

  State state() const { return state_; }
  bool ready() const { return state_ == State::ready; }
  int configuration_error() const { return configuration_error_; }

  // Only valid while ready().
  Device& device() { return *device_; }

 private:
  Session(State state, int configuration_error, std::unique_ptr<DeviceHandle> handle, Pause& pause);

  State state_;
  int configuration_error_;
  std::unique_ptr<DeviceHandle> handle_;
  std::optional<Device> device_;
};

}  // namespace kbc::link
