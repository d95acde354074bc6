#include "session.h"

#include <algorithm>
#include <cerrno>

#include "recorders.h"
#include "trace.h"

namespace kbc::link {
namespace {

// Configuration 1, interface 0, halt clears. 0 when the recorder is ready, otherwise
// usb_set_configuration's negative code.
int prepare(const UsbDevice& device, DeviceHandle& handle) {
  if (const int rc = handle.set_configuration(kConfiguration); rc < 0) {
    tracef("Cannot set configuration (%d)", rc);
    if (rc == -EPERM || rc == -EACCES) {
      // libusb 0.1 falls back to a read-only open without access; every request then fails.
      tracef("Access to the recorder on bus %s device %s was denied", device.bus.c_str(),
             device.filename.c_str());
    }
    return rc;
  }
  // Failures here show in the commands' own outcome.
  handle.claim_interface(kInterface);
  handle.clear_halt(kEndpointOut);
  handle.clear_halt(kEndpointIn);
  return 0;
}

}  // namespace

Session::Session(State state, int configuration_error, std::unique_ptr<DeviceHandle> handle,
                 Pause& pause)
    : state_(state), configuration_error_(configuration_error), handle_(std::move(handle)) {
  if (handle_ && state_ == State::ready) {
    device_.emplace(*handle_, pause);
  }
}

const UsbDevice* chosen_recorder(std::span<const UsbDevice> recorders,
                                 const std::optional<std::string>& location) {
  if (location) {
    const auto chosen = std::find_if(recorders.begin(), recorders.end(),
                                     [&](const UsbDevice& d) { return d.location() == *location; });
    return chosen == recorders.end() ? nullptr : &*chosen;
  }
  // Taking the first of several would act on whichever recorder the bus happens to list first.
  return recorders.size() == 1 ? &recorders.front() : nullptr;
}

Session Session::open(Link& link) {
  const std::vector<UsbDevice> recorders = scan_recorders(link);
  if (const UsbDevice* chosen = chosen_recorder(recorders, link.location)) {
    return open_listed(link, *chosen);
  }
  if (link.location) {
    trace("The chosen recorder is not on the bus");
    return Session(State::no_device, 0, nullptr, link.pause);
  }
  if (recorders.empty()) {
    trace("No recorder found");
    return Session(State::no_device, 0, nullptr, link.pause);
  }
  tracef("%zu recorders found and none chosen", recorders.size());
  return Session(State::several_recorders, 0, nullptr, link.pause);
}

Session Session::open_listed(Link& link, const UsbDevice& device) {
  std::unique_ptr<DeviceHandle> handle = link.port.open(device);
  if (!handle) {
    tracef("Cannot open the recorder at %s", device.location().c_str());
    return Session(State::no_device, 0, nullptr, link.pause);
  }
  if (const int rc = prepare(device, *handle); rc < 0) {
    return Session(State::configuration_failed, rc, nullptr, link.pause);
  }
  return Session(State::ready, 0, std::move(handle), link.pause);
}

}  // namespace kbc::link
