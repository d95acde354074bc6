// A bus with the simulated recorder on it, as a link::Port: answers through the Firmware, records
// every call and transfer, and injects faults for tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "firmware.h"
#include "link/port.h"
#include "link/session.h"
#include "link/timing.h"

namespace kbc::sim {

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

struct Fault {
  enum class Kind {
    error,           // the transfer returns `code` (default -EIO)
    timeout,         // the transfer returns -ETIMEDOUT
    short_transfer,  // the transfer moves only `length` bytes
    reply_code,      // the reply carries `value` as its code (IN only)
    outcome,         // the reply carries `value` as its outcome byte (IN only)
  };
  enum class Stage { out, in };
  Kind kind;
  Stage stage = Stage::in;
  char letter = 0;         // the command it applies to; 0: any command
  int occurrence = 1;      // the n-th matching command from now on (1: the next)
  int code = -5;           // for error
  int length = 0;          // for short_transfer
  std::uint8_t value = 0;  // for reply_code and outcome
};

class SimRecorder final : public link::Port, public link::Pause {
 public:
  SimRecorder();

  Firmware& firmware() { return firmware_; }
  RecorderState& state() { return firmware_.state(); }
  link::Link link() { return link::Link{*this, *this}; }

  // Bus set-up. Devices added here are listed before the recorder, in the order added; they have
  // no firmware, so they stall the vendor request whatever their vendor.
  void add_other_device(std::uint16_t vendor, bool opens);
  void add_unopenable_recorder();     // vendor 0x4255, but usb_open fails
  void set_present(bool present);     // false: the recorder is not on the bus
  void fail_configuration(int code);  // usb_set_configuration returns `code`; 0 restores

  // Faults.
  void inject(const Fault& fault);
  // From the n-th control transfer from now on (1: the next), every transfer fails with -ENODEV
  // and the recorder leaves the bus.
  void unplug_at_transfer(int n);
  void unplug();     // now
  void reconnect();  // back on the bus, out of mass-storage mode

  // What happened, in order.
  const std::vector<WireEvent>& wire() const { return wire_; }
  void clear_wire() { wire_.clear(); }
  std::vector<std::vector<std::uint8_t>> payloads() const;  // OUT payloads sent, in order
  std::string letters() const;                              // their command letters
  int open_handles() const { return open_handles_; }

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
  class Handle;
  struct ListedDevice {
    std::uint16_t vendor;
    bool opens;
  };
  // A command the recorder took, and its reply while one is due (none in mass-storage mode).
  struct Pending {
    char letter;
    std::optional<std::vector<std::uint8_t>> reply;
  };
  int control(const Handle& handle, int request_type, int request, int value, int index,
              std::span<std::uint8_t> bytes, int timeout_ms);
  int transfer(const Handle& handle, WireEvent& event, std::span<std::uint8_t> bytes);
  int send(WireEvent& event, std::span<std::uint8_t> bytes);
  int receive(WireEvent& event, std::span<std::uint8_t> bytes);
  std::optional<Fault> take_fault(Fault::Stage stage, char letter);
  bool reachable(const Handle& handle) const;
  void leave_bus();

  Firmware firmware_;
  std::vector<ListedDevice> others_;
  bool present_ = true;
  int connection_ = 0;  // counts the recorder's arrivals; handles from an earlier one are dead
  int configuration_result_ = 0;
  std::vector<Fault> faults_;
  int unplug_countdown_ = 0;
  std::optional<Pending> pending_;
  std::vector<WireEvent> wire_;
  int open_handles_ = 0;
};

}  // namespace kbc::sim
