// A scripted port: each device answers control transfers from a queue and every call is logged
// as one line, so that tests read the order of calls and their arguments.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "link/port.h"
#include "link/timing.h"

namespace kbc::link::testing {

struct Transfer {
  int result;                       // what usb_control_msg returns
  std::vector<std::uint8_t> reply;  // copied into an IN buffer
};

struct FakeDevice {
  std::uint16_t vendor = 0x4255;
  bool opens = true;
  int configuration_result = 0;
  std::deque<Transfer> transfers;  // answered in order; when empty, OUT succeeds whole
};

inline FakeDevice device(std::uint16_t vendor = 0x4255, bool opens = true,
                         int configuration_result = 0) {
  FakeDevice d;
  d.vendor = vendor;
  d.opens = opens;
  d.configuration_result = configuration_result;
  return d;
}

struct ControlCall {
  int request_type, request, value, index, timeout;
  std::vector<std::uint8_t> data;
};

class FakePort final : public Port, public Pause {
 public:
  std::vector<FakeDevice> devices_on_bus;
  std::vector<std::string> log;
  std::vector<ControlCall> controls;
  int open_handles = 0;

  void init() override { log.push_back("init"); }
  int find_busses() override {
    log.push_back("find_busses");
    return 1;
  }
  int find_devices() override {
    log.push_back("find_devices");
    return static_cast<int>(devices_on_bus.size());
  }
  std::vector<UsbDevice> devices() override {
    std::vector<UsbDevice> list;
    for (std::size_t i = 0; i < devices_on_bus.size(); ++i) {
      list.push_back({"001", std::to_string(i + 1), devices_on_bus[i].vendor, 0x1234, i});
    }
    return list;
  }
  std::unique_ptr<DeviceHandle> open(const UsbDevice& device) override {
    log.push_back("open " + device.filename);
    FakeDevice& d = devices_on_bus.at(device.index);
    if (!d.opens) {
      return nullptr;
    }
    return std::make_unique<Handle>(*this, d, device.filename);
  }
  void pause(std::chrono::milliseconds ms) override {
    log.push_back("pause " + std::to_string(ms.count()));
  }

 private:
  class Handle final : public DeviceHandle {
   public:
    Handle(FakePort& port, FakeDevice& device, std::string name)
        : port_(port), device_(device), name_(std::move(name)) {
      ++port_.open_handles;
    }
    ~Handle() override {
      --port_.open_handles;
      port_.log.push_back("close " + name_);
    }
    int set_configuration(int c) override {
      port_.log.push_back("set_configuration " + std::to_string(c));
      return device_.configuration_result;
    }
    int claim_interface(int i) override {
      port_.log.push_back("claim_interface " + std::to_string(i));
      return 0;
    }
    int clear_halt(unsigned ep) override {
      port_.log.push_back("clear_halt " + std::to_string(ep));
      return 0;
    }
    int control_msg(int type, int request, int value, int index, std::span<std::uint8_t> bytes,
                    int timeout) override {
      port_.log.push_back(type == 0x40 ? "out" : "in");
      ControlCall call{type, request, value, index, timeout, {bytes.begin(), bytes.end()}};
      port_.controls.push_back(call);
      if (device_.transfers.empty()) {
        return static_cast<int>(bytes.size());
      }
      Transfer t = device_.transfers.front();
      device_.transfers.pop_front();
      std::copy_n(t.reply.begin(), std::min(t.reply.size(), bytes.size()), bytes.begin());
      return t.result;
    }

   private:
    FakePort& port_;
    FakeDevice& device_;
    std::string name_;
  };
};

// A 12-byte reply with this code and outcome.
inline Transfer reply(std::uint8_t code, std::uint8_t outcome, std::size_t length = 12) {
  std::vector<std::uint8_t> bytes(length, 0);
  bytes[0] = code;
  bytes[1] = outcome;
  return {static_cast<int>(length), bytes};
}

inline Transfer sent(int bytes) {
  return {bytes, {}};
}

}  // namespace kbc::link::testing
