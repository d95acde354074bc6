// How the station service hears of recorders plugged in and pulled out: udev's monitor of USB
// devices, or the simulated bus's hub events. Nothing polls.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <variant>
#include <vector>

#include "sim/sim_bus.h"

namespace kbc::station {

struct BusEvent {
  std::string location;  // "001/005"
  bool arrived = false;  // or left
};

class Arrivals {
 public:
  virtual ~Arrivals() = default;
  // The events since the last call, in order; waits for one until `stop` is asked.
  virtual std::vector<BusEvent> wait(std::stop_token stop) = 0;
};

// udev's events of USB devices, once its rules have run.
class UdevArrivals final : public Arrivals {
 public:
  // The monitor, or why there is none.
  static std::variant<std::unique_ptr<UdevArrivals>, std::string> start();
  struct Monitor;
  explicit UdevArrivals(std::unique_ptr<Monitor> monitor);
  ~UdevArrivals() override;
  std::vector<BusEvent> wait(std::stop_token stop) override;

 private:
  std::unique_ptr<Monitor> monitor_;
};

// The simulated bus's events, heard from whichever thread plugs a recorder in or out.
class SimArrivals final : public Arrivals {
 public:
  explicit SimArrivals(sim::SimBus& bus);
  ~SimArrivals() override;
  SimArrivals(const SimArrivals&) = delete;
  SimArrivals& operator=(const SimArrivals&) = delete;
  std::vector<BusEvent> wait(std::stop_token stop) override;

 private:
  sim::SimBus& bus_;
  std::mutex mutex_;
  std::condition_variable_any heard_;
  std::vector<BusEvent> events_;
};

}  // namespace kbc::station
