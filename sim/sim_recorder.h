// One simulated recorder on a SimBus: its firmware and state, whether it is plugged in, and the
// faults a test injects into its transfers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "firmware.h"

namespace kbc::sim {

class SimBus;

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

// Made by SimBus::add_recorder and owned by the bus. Its state and firmware are for a test to set
// up and read back while no transfer runs; the other calls may come from any thread.
class SimRecorder {
 public:
  SimRecorder(SimBus& bus, std::string location) : bus_(bus), location_(std::move(location)) {}
  SimRecorder(const SimRecorder&) = delete;
  SimRecorder& operator=(const SimRecorder&) = delete;

  Firmware& firmware() { return firmware_; }
  RecorderState& state() { return firmware_.state(); }
  // Where it sits on the bus, "001/003"; it keeps its place while unplugged.
  const std::string& location() const { return location_; }

  void fail_configuration(int code);  // usb_set_configuration returns `code`; 0 restores
  void inject(const Fault& fault);
  // From the n-th control transfer from now on (1: the next), every transfer fails with -ENODEV
  // and the recorder leaves the bus.
  void unplug_at_transfer(int n);
  void unplug();     // now
  void reconnect();  // back on the bus, out of mass-storage mode
  bool present() const;

  // The OUT payloads that reached this recorder, and their command letters.
  std::vector<std::vector<std::uint8_t>> payloads() const;
  std::string letters() const;

 private:
  friend class SimBus;
  // A command the recorder took, and its reply while one is due (none in mass-storage mode).
  struct Pending {
    char letter;
    std::optional<std::vector<std::uint8_t>> reply;
  };

  // The rest run with the bus locked.
  void leave_bus();
  int send(std::vector<std::uint8_t>& logged, std::span<std::uint8_t> bytes);
  int receive(std::vector<std::uint8_t>& logged, std::span<std::uint8_t> bytes);
  std::optional<Fault> take_fault(Fault::Stage stage, char letter);

  SimBus& bus_;
  std::string location_;
  Firmware firmware_;
  bool present_ = true;
  int connection_ = 0;  // counts the recorder's arrivals; handles from an earlier one are dead
  int configuration_result_ = 0;
  std::vector<Fault> faults_;
  int unplug_countdown_ = 0;
  std::optional<Pending> pending_;
};

}  // namespace kbc::sim
