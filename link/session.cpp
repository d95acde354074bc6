#include "session.h"

#include <cerrno>

#include "trace.h"

namespace kbc::link {

int CheckResult::value() const {
  switch (kind) {
    case Kind::ready:
      return 1;
    case Kind::wrong_device:
      return 0;
    case Kind::configuration_failed:
      break;
  }
  return code;
}

CheckResult open_and_check(const UsbDevice& device, DeviceHandle& handle, Pause& pause) {
  if (device.vendor != kRecorderVendor) {
    pause.pause(kPause);
    trace("Wrong device");
    return {CheckResult::Kind::wrong_device};
  }
  if (const int rc = handle.set_configuration(kConfiguration); rc < 0) {
    tracef("Cannot set configuration (%d)", rc);
    if (rc == -EPERM || rc == -EACCES) {
      // libusb 0.1 falls back to a read-only open without access; every request then fails.
      tracef("Access to the recorder on bus %s device %s was denied", device.bus.c_str(),
             device.filename.c_str());
    }
    return {CheckResult::Kind::configuration_failed, rc};
  }
  // Failures here show in the commands' own outcome.
  handle.claim_interface(kInterface);
  handle.clear_halt(kEndpointOut);
  handle.clear_halt(kEndpointIn);
  return {CheckResult::Kind::ready};
}

Session::Session(State state, int configuration_error, std::unique_ptr<DeviceHandle> handle,
                 Pause& pause)
    : state_(state), configuration_error_(configuration_error), handle_(std::move(handle)) {
  if (handle_ && state_ == State::ready) {
    device_.emplace(*handle_, pause);
  }
}

Session Session::open(Link& link) {
  link.port.init();
  tracef("Busses found: %d", link.port.find_busses());
  link.pause.pause(kPause);
  tracef("Devices found: %d", link.port.find_devices());
  link.pause.pause(kPause);

  // Only the recorder's vendor is opened: on Linux every hub and device the user may open is
  // listed, and the first of them would otherwise stand in the recorder's way.
  for (const UsbDevice& device : link.port.devices()) {
    if (device.vendor != kRecorderVendor) {
      continue;
    }
    std::unique_ptr<DeviceHandle> handle = link.port.open(device);
    if (!handle) {
      continue;
    }
    const CheckResult check = open_and_check(device, *handle, link.pause);
    switch (check.kind) {
      case CheckResult::Kind::ready:
        return Session(State::ready, 0, std::move(handle), link.pause);
      case CheckResult::Kind::wrong_device:
        return Session(State::wrong_device, 0, nullptr, link.pause);
      case CheckResult::Kind::configuration_failed:
        return Session(State::configuration_failed, check.code, nullptr, link.pause);
    }
  }
  trace("No recorder found");
  return Session(State::no_device, 0, nullptr, link.pause);
}

void Session::close() {
  device_.reset();
  handle_.reset();
  if (state_ == State::ready) {
    state_ = State::closed;
  }
}

}  // namespace kbc::link
