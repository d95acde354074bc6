#include "sim_recorder.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>

#include "link/command_table.h"

namespace kbc::sim {
namespace {

using Kind = WireEvent::Kind;

constexpr const char* kBus = "001";
constexpr std::uint16_t kProduct = 0x0001;

// libusb 0.1 names devices on a bus "001", "002", ... in the order it found them.
std::string filename_at(std::size_t position) {
  char name[8];
  std::snprintf(name, sizeof name, "%03zu", position + 1);
  return name;
}

}  // namespace

// An open device. It refers back to the bus, so it must not outlive the SimRecorder.
class SimRecorder::Handle final : public link::DeviceHandle {
 public:
  Handle(SimRecorder& sim, std::string device, bool recorder)
      : sim_(sim), device_(std::move(device)), recorder_(recorder), connection_(sim.connection_) {
    ++sim_.open_handles_;
  }
  ~Handle() override {
    sim_.wire_.push_back({.kind = Kind::close, .device = device_});
    --sim_.open_handles_;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  int set_configuration(int configuration) override {
    return call(Kind::set_configuration, configuration, sim_.configuration_result_);
  }
  int claim_interface(int interface) override { return call(Kind::claim_interface, interface, 0); }
  int clear_halt(unsigned endpoint) override {
    return call(Kind::clear_halt, static_cast<int>(endpoint), 0);
  }
  int control_msg(int request_type, int request, int value, int index,
                  std::span<std::uint8_t> bytes, int timeout_ms) override {
    return sim_.control(*this, request_type, request, value, index, bytes, timeout_ms);
  }

  const std::string& device() const { return device_; }
  bool recorder() const { return recorder_; }
  int connection() const { return connection_; }

 private:
  // Other devices take every call; the recorder's handle dies when the recorder leaves the bus.
  int call(Kind kind, int value, int recorder_result) {
    int result = 0;
    if (recorder_) {
      result = sim_.reachable(*this) ? recorder_result : -ENODEV;
    }
    sim_.wire_.push_back({.kind = kind, .device = device_, .value = value, .result = result});
    return result;
  }

  SimRecorder& sim_;
  std::string device_;
  bool recorder_;
  int connection_;
};

SimRecorder::SimRecorder() = default;

void SimRecorder::add_other_device(std::uint16_t vendor, bool opens) {
  others_.push_back({vendor, opens});
}

void SimRecorder::add_unopenable_recorder() {
  others_.push_back({link::kRecorderVendor, false});
}

void SimRecorder::set_present(bool present) {
  if (present_ && !present) {
    leave_bus();
  }
  present_ = present;
}

void SimRecorder::fail_configuration(int code) {
  configuration_result_ = code;
}

void SimRecorder::inject(const Fault& fault) {
  Fault stored = fault;
  // Only a reply has a code and an outcome to overwrite.
  if (fault.kind == Fault::Kind::reply_code || fault.kind == Fault::Kind::outcome) {
    stored.stage = Fault::Stage::in;
  }
  faults_.push_back(stored);
}

void SimRecorder::unplug_at_transfer(int n) {
  if (n < 1) {
    unplug();
    return;
  }
  unplug_countdown_ = n;
}

void SimRecorder::unplug() {
  unplug_countdown_ = 0;
  set_present(false);
}

void SimRecorder::reconnect() {
  unplug_countdown_ = 0;
  // A fresh arrival: mass storage ends and handles of the previous one stay dead.
  leave_bus();
  present_ = true;
  state().mass_storage = false;
}

void SimRecorder::leave_bus() {
  present_ = false;
  ++connection_;
  pending_.reset();
}

std::vector<std::vector<std::uint8_t>> SimRecorder::payloads() const {
  std::vector<std::vector<std::uint8_t>> sent;
  for (const WireEvent& event : wire_) {
    if (event.kind == Kind::control && event.request_type == link::kRequestOut) {
      sent.push_back(event.data);
    }
  }
  return sent;
}

std::string SimRecorder::letters() const {
  std::string letters;
  for (const auto& payload : payloads()) {
    letters.push_back(payload.empty() ? '\0' : static_cast<char>(payload.front()));
  }
  return letters;
}

void SimRecorder::init() {
  wire_.push_back({.kind = Kind::init});
}

int SimRecorder::find_busses() {
  constexpr int kBusses = 1;
  wire_.push_back({.kind = Kind::find_busses, .result = kBusses});
  return kBusses;
}

int SimRecorder::find_devices() {
  const int count = static_cast<int>(devices().size());
  wire_.push_back({.kind = Kind::find_devices, .result = count});
  return count;
}

std::vector<link::UsbDevice> SimRecorder::devices() {
  std::vector<link::UsbDevice> listed;
  for (std::size_t i = 0; i < others_.size(); ++i) {
    listed.push_back({kBus, filename_at(i), others_[i].vendor, kProduct, i});
  }
  if (present_) {
    const std::size_t i = others_.size();
    listed.push_back({kBus, filename_at(i), link::kRecorderVendor, kProduct, i});
  }
  return listed;
}

std::unique_ptr<link::DeviceHandle> SimRecorder::open(const link::UsbDevice& device) {
  const std::string name = device.bus + "/" + device.filename;
  // Looked up by name in the bus as it is now: a recorder unplugged since the listing is gone.
  const auto listed = devices();
  const auto found = std::find_if(listed.begin(), listed.end(), [&](const link::UsbDevice& d) {
    return d.bus == device.bus && d.filename == device.filename;
  });
  std::unique_ptr<Handle> handle;
  if (found != listed.end()) {
    const bool recorder = found->index == others_.size();
    if (recorder || others_[found->index].opens) {
      handle = std::make_unique<Handle>(*this, name, recorder);
    }
  }
  wire_.push_back({.kind = Kind::open, .device = name, .result = handle ? 0 : -1});
  return handle;
}

void SimRecorder::pause(std::chrono::milliseconds duration) {
  wire_.push_back({.kind = Kind::pause, .milliseconds = static_cast<long>(duration.count())});
}

bool SimRecorder::reachable(const Handle& handle) const {
  return present_ && handle.connection() == connection_;
}

int SimRecorder::control(const Handle& handle, int request_type, int request, int value, int index,
                         std::span<std::uint8_t> bytes, int timeout_ms) {
  WireEvent event{.kind = Kind::control,
                  .device = handle.device(),
                  .request_type = request_type,
                  .request = request,
                  .value = value,
                  .index = index,
                  .length = static_cast<int>(bytes.size()),
                  .timeout = timeout_ms};
  if (request_type == link::kRequestOut) {
    event.data.assign(bytes.begin(), bytes.end());
  }
  event.result = transfer(handle, event, bytes);
  wire_.push_back(std::move(event));
  return wire_.back().result;
}

int SimRecorder::transfer(const Handle& handle, WireEvent& event, std::span<std::uint8_t> bytes) {
  if (!handle.recorder()) {
    return -EPIPE;  // no firmware behind it that knows the vendor request
  }
  if (unplug_countdown_ > 0 && --unplug_countdown_ == 0) {
    leave_bus();
  }
  if (!reachable(handle)) {
    return -ENODEV;
  }
  if (event.request != link::kRequest || event.value != link::kValue ||
      event.index != link::kIndex) {
    return -EPIPE;
  }
  if (event.request_type == link::kRequestOut) {
    return send(event, bytes);
  }
  if (event.request_type == link::kRequestIn) {
    return receive(event, bytes);
  }
  return -EPIPE;
}

int SimRecorder::send(WireEvent& event, std::span<std::uint8_t> bytes) {
  const char letter = bytes.empty() ? '\0' : static_cast<char>(bytes.front());
  // A new command replaces whatever reply was still due.
  pending_.reset();
  if (const auto fault = take_fault(Fault::Stage::out, letter)) {
    switch (fault->kind) {
      case Fault::Kind::error:
        return fault->code;
      case Fault::Kind::timeout:
        return -ETIMEDOUT;
      case Fault::Kind::short_transfer:
        if (const auto moved = static_cast<std::size_t>(std::max(fault->length, 0));
            moved < bytes.size()) {
          // The data stage broke off, so the firmware never saw a command.
          event.data.resize(moved);
          return static_cast<int>(moved);
        }
        break;
      case Fault::Kind::reply_code:
      case Fault::Kind::outcome:
        break;
    }
  }
  pending_ = Pending{letter, firmware_.execute(bytes)};
  return static_cast<int>(bytes.size());
}

int SimRecorder::receive(WireEvent& event, std::span<std::uint8_t> bytes) {
  // A reply is read once; asking again, or before any command, gets nothing.
  auto pending = std::exchange(pending_, std::nullopt);
  if (!pending) {
    return -ETIMEDOUT;
  }
  const auto fault = take_fault(Fault::Stage::in, pending->letter);
  auto kind = fault ? std::optional(fault->kind) : std::nullopt;
  if (kind == Fault::Kind::error) {
    return fault->code;
  }
  if (kind == Fault::Kind::timeout || !pending->reply) {
    return -ETIMEDOUT;
  }
  auto& reply = *pending->reply;
  if (kind == Fault::Kind::reply_code && !reply.empty()) {
    reply[0] = fault->value;
  }
  if (kind == Fault::Kind::outcome && reply.size() > 1) {
    reply[1] = fault->value;
  }
  std::size_t moved = std::min(reply.size(), bytes.size());
  if (kind == Fault::Kind::short_transfer) {
    moved = std::min(moved, static_cast<std::size_t>(std::max(fault->length, 0)));
  }
  std::copy_n(reply.begin(), moved, bytes.begin());
  event.data.assign(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(moved));
  return static_cast<int>(moved);
}

// Every pending fault that matches counts this transfer; the first one due fires, and any other
// that came due with it fires on the next match.
std::optional<Fault> SimRecorder::take_fault(Fault::Stage stage, char letter) {
  auto fired = faults_.end();
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (it->stage != stage || (it->letter != 0 && it->letter != letter)) {
      continue;
    }
    --it->occurrence;
    if (it->occurrence <= 0 && fired == faults_.end()) {
      fired = it;
    }
  }
  if (fired == faults_.end()) {
    return std::nullopt;
  }
  Fault fault = *fired;
  faults_.erase(fired);
  return fault;
}

}  // namespace kbc::sim
