// The station service: every recorder plugged into the drawer taken through, without an operator,
// each on a thread of its own: its serial number, its key from the station's recorder keys, the
// password's gate with the clock set, the station profile where there is one, and the offload
// into the store, whose verified bag is queued for the object store. At most `slots` recorders
// at once; the others wait in the order they were plugged in. A step that fails ends that
// recorder's run until it is plugged in again. It never erases a recorder: the erase stays the
// operator's, under the station's rule.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

#include "console/erase_guard.h"
#include "console/profile.h"
#include "offload/offload.h"
#include "station/arrivals.h"
#include "station/recorder_keys.h"
#include "station/shared_port.h"
#include "station/slot_state.h"

namespace kbc::station {

// The operator the journal names for what the service does.
inline constexpr std::string_view kStationOperator = "kbc-station";

struct StationSettings {
  offload::OffloadSettings offload;  // the store, the disk's time-out, the watch, the queue
  const RecorderKeys* keys = nullptr;
  std::optional<console::Profile> profile;
  int slots = 25;
  console::Clock* clock = nullptr;
  console::ErasePolicy erase;  // said on a recorder offloaded lately
  console::OffloadLedger* ledger = nullptr;
  std::chrono::seconds overdue{24 * 3600};
  Board* board = nullptr;
  std::string low_space;  // the store's room when it is low, for the board
};

// What each recorder's run ended with.
struct Served {
  SlotState slot;
  bool ok() const { return slot.stage == SlotStage::verified || slot.stage == SlotStage::recent; }
};

class Station {
 public:
  Station(link::Port& port, link::Pause& pause, Arrivals& arrivals, StationSettings settings);
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Follows the drawer until `stop` is asked; the runs still going are cancelled then, and their
  // unfinished bags resumed by the next run.
  void run(std::stop_token stop);
  // The recorders on the bus now, each to its end; what they ended with, by location.
  std::vector<Served> run_once(std::stop_token stop);

  // Told as each recorder's run ends, from its thread, never two at once.
  std::function<void(const Served&)> served;

 private:
  struct Docked;

  void dock(const link::UsbDevice& device, std::stop_token stop);
  void serve(Docked& docked, std::stop_token stop);
  void left(const std::string& location);
  void publish(Docked& docked);
  void end(Docked& docked, SlotStage stage, std::string result);
  bool take_slot(Docked& docked, std::stop_token stop);
  void give_slot();
  void scan_and_dock(std::stop_token stop);
  void enter(Docked& docked, std::string_view action, console::AuditOutcome outcome,
             std::vector<std::string> report);

  SharedPort port_;
  link::Pause& pause_;
  Arrivals& arrivals_;
  StationSettings settings_;

  std::mutex mutex_;  // the docked, the slots, the board, the trail and `served`
  std::condition_variable_any slot_free_;
  std::list<Docked> docked_;
  std::map<std::string, Docked*> at_location_;  // the newest arrival at each place
  int busy_ = 0;
};

}  // namespace kbc::station
