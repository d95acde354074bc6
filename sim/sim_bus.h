// The in-process USB bus: simulated recorders among other devices, as a link::Port. It answers
// through each recorder's Firmware, records every call and transfer, and is a link::Pause that
// logs instead of sleeping. Transfers to different recorders may run on different threads at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "link/port.h"
#include "link/session.h"
#include "link/timing.h"
#include "sim_recorder.h"

namespace kbc::sim {

// The most recorders a simulated bus is started with (--simulate=N).
inline constexpr int kMostSimulated = 64;

struct WireEvent {
  enum class Kind {
    init,
    find_busses,
    find_devices,
    open,  // device: "bus/filename"; result 0 when it opened, -1 when not
    close,
    set_configuration,  // value: the configuration
    claim_interface,    // value: the interface
    clear_halt,         // value: the endpoint
    control,            // the setup fields, timeout, data and result below
    pause,              // milliseconds
  };
  Kind kind;
  std::string device{};
  int request_type = 0, request = 0, value = 0, index = 0, length = 0, timeout = 0;
  std::vector<std::uint8_t> data{};  // OUT: the payload sent; IN: the bytes returned
  int result = 0;
  long milliseconds = 0;
};

class SimBus final : public link::Port, public link::Pause {
 public:
  SimBus() = default;
  // A bus of `recorders` recorders with the serial numbers simulated_serial(1), (2), ...
  explicit SimBus(std::size_t recorders);
  SimBus(const SimBus&) = delete;
  SimBus& operator=(const SimBus&) = delete;
  ~SimBus() override;

  // Devices are listed in the order they were added, as 001/001, 001/002, ...
  SimRecorder& add_recorder();  // with the next simulated serial number
  SimRecorder& add_recorder(std::string_view serial);
  // A device without firmware: it stalls the vendor request whatever its vendor.
  void add_other_device(std::uint16_t vendor, bool opens = true);
  void add_unopenable_recorder();  // vendor 0x4255, but usb_open fails

  // Told the location of every recorder that arrives on the bus or leaves it (added, unplugged,
  // reconnected), and which of the two, as a hub's events would tell; on the thread that caused
  // it, with the bus locked, so it must not call the bus. Empty: nobody is told.
  using HotplugListener = std::function<void(const std::string& location, bool arrived)>;
  void set_hotplug_listener(HotplugListener listener);

  SimRecorder& recorder(std::size_t i = 0) { return *recorders_.at(i); }

  // The recorder on the bus at `location` in mass-storage mode, whose disk is then to be read: its
  // get_sn text and whether it was erased; nullopt for none. From any thread.
  struct Switched {
    std::string serial;
    bool erased = false;
  };
  std::optional<Switched> switched_at(std::string_view location) const;
  // Whether a recorder sits at `location`, plugged in or not. From any thread.
  bool has_recorder_at(std::string_view location) const;
  std::size_t recorder_count() const { return recorders_.size(); }
  link::Link link() { return link::Link{*this, *this}; }

  // What happened on the bus, in order. Read it while no transfer runs.
  const std::vector<WireEvent>& wire() const { return wire_; }
  void clear_wire();
  std::vector<std::vector<std::uint8_t>> payloads() const;  // every OUT payload, any device
  std::string letters() const;                              // their command letters
  // The command letters each device got, by location; a device that got none is left out.
  std::map<std::string, std::string> letters_by_device() const;
  int open_handles() const;

  // link::Port
  void init() override;
  int find_busses() override;
  int find_devices() override;
  std::vector<link::UsbDevice> devices() override;
  // The handle refers back to this bus and must not outlive it.
  std::unique_ptr<link::DeviceHandle> open(const link::UsbDevice& device) override;

  // link::Pause: logged, never slept.
  void pause(std::chrono::milliseconds duration) override;

 private:
  friend class SimRecorder;
  class Handle;
  struct Slot {
    std::uint16_t vendor;
    bool opens;
    SimRecorder* recorder;  // nullptr for another device
  };

  std::vector<link::UsbDevice> listed() const;
  void tell_hotplug(const std::string& location, bool arrived) const;
  std::string next_location() const;
  void log(WireEvent event);
  std::vector<std::vector<std::uint8_t>> payloads_to(const std::string* device) const;
  int control(const Handle& handle, int request_type, int request, int value, int index,
              std::span<std::uint8_t> bytes, int timeout_ms);
  bool reachable(const Handle& handle) const;

  mutable std::mutex mutex_;
  std::vector<Slot> slots_;
  std::vector<std::unique_ptr<SimRecorder>> recorders_;
  std::vector<WireEvent> wire_;
  int open_handles_ = 0;
  HotplugListener hotplug_;
};

}  // namespace kbc::sim
