#include "sim_bus.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <iterator>
#include <utility>

#include "link/command_table.h"

namespace kbc::sim {
namespace {

using Kind = WireEvent::Kind;
using Bytes = std::vector<std::uint8_t>;

constexpr const char* kBus = "001";
constexpr std::uint16_t kProduct = 0x0001;

// libusb 0.1 names devices on a bus "001", "002", ... in the order it found them.
std::string filename_at(std::size_t position) {
  char name[24];  // room for any size_t, so that nothing is ever cut
  std::snprintf(name, sizeof name, "%03zu", position + 1);
  return name;
}

// The command letter a payload starts with.
char letter_of(const Bytes& payload) {
  return payload.empty() ? '\0' : static_cast<char>(payload.front());
}

}  // namespace

// An open device. It refers back to the bus, so it must not outlive the SimBus.
class SimBus::Handle final : public link::DeviceHandle {
 public:
  // With the bus locked.
  Handle(SimBus& bus, std::string device, SimRecorder* recorder)
      : bus_(bus),
        device_(std::move(device)),
        recorder_(recorder),
        connection_(recorder ? recorder->connection_ : 0) {
    ++bus_.open_handles_;
  }
  ~Handle() override {
    const std::lock_guard lock(bus_.mutex_);
    bus_.log({.kind = Kind::close, .device = device_});
    --bus_.open_handles_;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  int set_configuration(int configuration) override {
    return call(Kind::set_configuration, configuration);
  }
  int claim_interface(int interface) override { return call(Kind::claim_interface, interface); }
  int clear_halt(unsigned endpoint) override {
    return call(Kind::clear_halt, static_cast<int>(endpoint));
  }
  int control_msg(int request_type, int request, int value, int index,
                  std::span<std::uint8_t> bytes, int timeout_ms) override {
    return bus_.control(*this, request_type, request, value, index, bytes, timeout_ms);
  }

  const std::string& device() const { return device_; }
  SimRecorder* recorder() const { return recorder_; }
  int connection() const { return connection_; }

 private:
  // Other devices take every call; the recorder's handle dies when the recorder leaves the bus.
  int call(Kind kind, int value) {
    const std::lock_guard lock(bus_.mutex_);
    int result = 0;
    if (recorder_ != nullptr) {
      if (!bus_.reachable(*this)) {
        result = -ENODEV;
      } else if (kind == Kind::set_configuration) {
        result = recorder_->configuration_result_;
      }
    }
    bus_.log({.kind = kind, .device = device_, .value = value, .result = result});
    return result;
  }

  SimBus& bus_;
  std::string device_;
  SimRecorder* recorder_;
  int connection_;
};

// The recorder.

void SimRecorder::fail_configuration(int code) {
  const std::lock_guard lock(bus_.mutex_);
  configuration_result_ = code;
}

void SimRecorder::inject(const Fault& fault) {
  Fault stored = fault;
  // Only a reply has a code and an outcome to overwrite.
  if (fault.kind == Fault::Kind::reply_code || fault.kind == Fault::Kind::outcome) {
    stored.stage = Fault::Stage::in;
  }
  const std::lock_guard lock(bus_.mutex_);
  faults_.push_back(stored);
}

void SimRecorder::unplug_at_transfer(int n) {
  if (n < 1) {
    unplug();
    return;
  }
  const std::lock_guard lock(bus_.mutex_);
  unplug_countdown_ = n;
}

void SimRecorder::unplug() {
  const std::lock_guard lock(bus_.mutex_);
  unplug_countdown_ = 0;
  if (present_) {
    leave_bus();
  }
}

void SimRecorder::reconnect() {
  const std::lock_guard lock(bus_.mutex_);
  unplug_countdown_ = 0;
  // A fresh arrival: mass storage ends and handles of the previous one stay dead.
  leave_bus();
  present_ = true;
  state().mass_storage = false;
  bus_.tell_hotplug(location_, true);
}

bool SimRecorder::present() const {
  const std::lock_guard lock(bus_.mutex_);
  return present_;
}

void SimRecorder::leave_bus() {
  if (present_) {
    bus_.tell_hotplug(location_, false);
  }
  present_ = false;
  ++connection_;
  pending_.reset();
}

std::vector<Bytes> SimRecorder::payloads() const {
  return bus_.payloads_to(&location_);
}

std::string SimRecorder::letters() const {
  std::string letters;
  std::ranges::transform(payloads(), std::back_inserter(letters), letter_of);
  return letters;
}

int SimRecorder::send(Bytes& logged, std::span<std::uint8_t> bytes) {
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
          logged.resize(moved);
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

int SimRecorder::receive(Bytes& logged, std::span<std::uint8_t> bytes) {
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
  logged.assign(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(moved));
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

// The bus.

SimBus::SimBus(std::size_t recorders) {
  for (std::size_t i = 0; i < recorders; ++i) {
    add_recorder();
  }
}

SimBus::~SimBus() = default;

SimRecorder& SimBus::add_recorder() {
  return add_recorder(simulated_serial(recorder_count() + 1));
}

SimRecorder& SimBus::add_recorder(std::string_view serial) {
  const std::lock_guard lock(mutex_);
  auto& recorder = recorders_.emplace_back(std::make_unique<SimRecorder>(*this, next_location()));
  recorder->state().set_serial(serial);
  slots_.push_back({link::kRecorderVendor, true, recorder.get()});
  tell_hotplug(recorder->location(), true);
  return *recorder;
}

void SimBus::add_other_device(std::uint16_t vendor, bool opens) {
  const std::lock_guard lock(mutex_);
  slots_.push_back({vendor, opens, nullptr});
}

void SimBus::add_unopenable_recorder() {
  add_other_device(link::kRecorderVendor, false);
}

std::string SimBus::next_location() const {
  return std::string(kBus) + "/" + filename_at(slots_.size());
}

std::optional<SimBus::Switched> SimBus::switched_at(std::string_view location) const {
  const std::lock_guard lock(mutex_);
  for (const auto& recorder : recorders_) {
    if (recorder->location_ == location && recorder->present_ &&
        recorder->firmware_.state().mass_storage) {
      const RecorderState& state = recorder->firmware_.state();
      return Switched{state.sn_text, state.erase_count > 0};
    }
  }
  return std::nullopt;
}

bool SimBus::has_recorder_at(std::string_view location) const {
  const std::lock_guard lock(mutex_);
  return std::ranges::any_of(recorders_,
                             [&](const auto& recorder) { return recorder->location_ == location; });
}

void SimBus::set_hotplug_listener(HotplugListener listener) {
  const std::lock_guard lock(mutex_);
  hotplug_ = std::move(listener);
}

void SimBus::tell_hotplug(const std::string& location, bool arrived) const {
  if (hotplug_) {
    hotplug_(location, arrived);
  }
}

void SimBus::log(WireEvent event) {
  wire_.push_back(std::move(event));
}

void SimBus::clear_wire() {
  const std::lock_guard lock(mutex_);
  wire_.clear();
}

std::vector<Bytes> SimBus::payloads_to(const std::string* device) const {
  const std::lock_guard lock(mutex_);
  std::vector<Bytes> sent;
  for (const WireEvent& event : wire_) {
    if (event.kind == Kind::control && event.request_type == link::kRequestOut &&
        (device == nullptr || event.device == *device)) {
      sent.push_back(event.data);
    }
  }
  return sent;
}

std::vector<Bytes> SimBus::payloads() const {
  return payloads_to(nullptr);
}

std::string SimBus::letters() const {
  std::string letters;
  std::ranges::transform(payloads(), std::back_inserter(letters), letter_of);
  return letters;
}

std::map<std::string, std::string> SimBus::letters_by_device() const {
  const std::lock_guard lock(mutex_);
  std::map<std::string, std::string> letters;
  for (const WireEvent& event : wire_) {
    if (event.kind == Kind::control && event.request_type == link::kRequestOut) {
      letters[event.device].push_back(letter_of(event.data));
    }
  }
  return letters;
}

int SimBus::open_handles() const {
  const std::lock_guard lock(mutex_);
  return open_handles_;
}

void SimBus::init() {
  const std::lock_guard lock(mutex_);
  log({.kind = Kind::init});
}

int SimBus::find_busses() {
  constexpr int kBusses = 1;
  const std::lock_guard lock(mutex_);
  log({.kind = Kind::find_busses, .result = kBusses});
  return kBusses;
}

int SimBus::find_devices() {
  const std::lock_guard lock(mutex_);
  const int count = static_cast<int>(listed().size());
  log({.kind = Kind::find_devices, .result = count});
  return count;
}

std::vector<link::UsbDevice> SimBus::devices() {
  const std::lock_guard lock(mutex_);
  return listed();
}

// An unplugged recorder keeps its slot, so the others keep their names.
std::vector<link::UsbDevice> SimBus::listed() const {
  std::vector<link::UsbDevice> devices;
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    if (slots_[i].recorder == nullptr || slots_[i].recorder->present_) {
      devices.push_back({kBus, filename_at(i), slots_[i].vendor, kProduct, i});
    }
  }
  return devices;
}

std::unique_ptr<link::DeviceHandle> SimBus::open(const link::UsbDevice& device) {
  const std::lock_guard lock(mutex_);
  const std::string name = device.location();
  // Looked up by name in the bus as it is now: a recorder unplugged since the listing is gone.
  const auto now = listed();
  const auto found = std::ranges::find(now, name, &link::UsbDevice::location);
  std::unique_ptr<Handle> handle;
  if (found != now.end()) {
    const Slot& slot = slots_[found->index];
    if (slot.recorder != nullptr || slot.opens) {
      handle = std::make_unique<Handle>(*this, name, slot.recorder);
    }
  }
  log({.kind = Kind::open, .device = name, .result = handle ? 0 : -1});
  return handle;
}

void SimBus::pause(std::chrono::milliseconds duration) {
  const std::lock_guard lock(mutex_);
  log({.kind = Kind::pause, .milliseconds = static_cast<long>(duration.count())});
}

bool SimBus::reachable(const Handle& handle) const {
  const SimRecorder& recorder = *handle.recorder();
  return recorder.present_ && handle.connection() == recorder.connection_;
}

int SimBus::control(const Handle& handle, int request_type, int request, int value, int index,
                    std::span<std::uint8_t> bytes, int timeout_ms) {
  const std::lock_guard lock(mutex_);
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
  event.result = [&] {
    SimRecorder* recorder = handle.recorder();
    if (recorder == nullptr) {
      return -EPIPE;  // no firmware behind it that knows the vendor request
    }
    if (recorder->unplug_countdown_ > 0 && --recorder->unplug_countdown_ == 0) {
      recorder->leave_bus();
    }
    if (!reachable(handle)) {
      return -ENODEV;
    }
    if (request != link::kRequest || value != link::kValue || index != link::kIndex) {
      return -EPIPE;
    }
    if (request_type == link::kRequestOut) {
      return recorder->send(event.data, bytes);
    }
    if (request_type == link::kRequestIn) {
      return recorder->receive(event.data, bytes);
    }
    return -EPIPE;
  }();
  log(std::move(event));
  return wire_.back().result;
}

}  // namespace kbc::sim
