#include "console/drawer.h"

#include <algorithm>

#include "console/printable.h"
#include "link/recorders.h"

namespace kbc::console {

Drawer::Drawer(Console& console, link::Link link) : console_(console), link_(link) {
  // The drawer lists every recorder, whichever one the console talks to.
  link_.location.reset();
}

void Drawer::forget(std::string_view location) {
  if (const auto found = seen_.find(location); found != seen_.end()) {
    seen_.erase(found);
  }
}

void Drawer::refresh() {
  std::map<std::string, Arrival, std::less<>> listed;
  listed_.clear();
  for (const link::UsbDevice& device : link::scan_recorders(link_)) {
    std::string location = device.location();
    const auto seen = seen_.find(location);
    Arrival arrival;
    if (seen != seen_.end()) {
      arrival = seen->second;
    } else {
      const auto serial = link::read_serial(link_, device);
      arrival = {serial ? std::optional(serial->to_utf8()) : std::nullopt, ++arrivals_};
    }
    listed_.push_back(location);
    listed.emplace(std::move(location), std::move(arrival));
  }
  // libusb lists a device it has not seen before first: in the order of their places, the list
  // stays put as recorders come and go.
  std::sort(listed_.begin(), listed_.end());
  // A recorder this scan did not find has left, whether or not anyone said so: should it come
  // back, it is a new arrival.
  seen_ = std::move(listed);

  if (picked_ && !picked_gone_) {
    const auto found = seen_.find(picked_->location);
    if (found == seen_.end() || found->second.number != picked_arrival_) {
      picked_gone_ = true;
      // No device has an empty location, so no button can reach whatever arrives at the picked
      // one's place, nor the only recorder left.
      console_.choose_recorder(std::string());
    }
  }
}

bool Drawer::pick(const ConnectedRecorder& recorder) {
  const auto found = seen_.find(recorder.location);
  if (found == seen_.end() || found->second.serial != recorder.serial) {
    return false;
  }
  picked_ = recorder;
  picked_arrival_ = found->second.number;
  picked_gone_ = false;
  // Its serial number goes along, for the audit entries of the buttons that reach it.
  console_.choose_recorder(recorder.location, recorder.serial);
  return true;
}

std::optional<ConnectedRecorder> Drawer::addressed() const {
  if (picked_) {
    return picked_gone_ ? std::nullopt : picked_;
  }
  if (listed_.size() == 1) {
    return ConnectedRecorder{listed_.front(), seen_.find(listed_.front())->second.serial};
  }
  return std::nullopt;
}

std::optional<std::string> Drawer::heading_if_changed() {
  std::optional<ConnectedRecorder> now = addressed();
  if (!now || now == named_) {
    return std::nullopt;
  }
  named_ = std::move(now);
  return recorder_heading(named_->location, named_->serial);
}

DrawerState Drawer::state() const {
  DrawerState state;
  state.picked = picked_;
  state.picked_gone = picked_gone_;
  for (const std::string& location : listed_) {
    state.connected.push_back({location, seen_.find(location)->second.serial});
  }
  return state;
}

}  // namespace kbc::console
