// What the station service tells of its drawer, where the window and kbcctl read it: a folder
// (/run/kbc-q7/station) holding `running`, locked by the service while it runs, `station` with the
// service's own state, and slots/ with a file per docked recorder, named after its USB port. Each
// file is KEY=value lines, as systemd's files under /run are, and is replaced whole by a rename,
// so that a reader following the folder with inotify never reads half of one.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "link/descriptor.h"

namespace kbc::station {

enum class SlotStage {
  queued,
  identifying,
  verifying,  // the password, and the clock set
  applying,   // the station profile
  switching,
  waiting_for_disk,
  copying,
  checking,  // the bag's verification
  verified,
  recent,  // offloaded within the offload window: not offloaded again
  failed,
  unplugged,
};

// "waiting-for-disk", ... as --json names them; the window's "等待磁盘", ...
std::string_view slot_stage_name(SlotStage stage);
std::string_view slot_stage_text(SlotStage stage);
std::optional<SlotStage> slot_stage_named(std::string_view name);
// The run has ended, well or not.
bool finished(SlotStage stage);

struct SlotState {
  std::string port;      // the USB port path, "1-2.3"; the location where none is known
  std::string location;  // "001/005"
  std::string serial;
  std::string officer;  // the record's user number and name, "000001 张三"
  std::string unit;     // its unit number and name
  SlotStage stage = SlotStage::queued;
  std::uint64_t files_done = 0, files_total = 0, bytes_done = 0, bytes_total = 0;
  double rate = 0;  // bytes a second while copying
  std::optional<long long> seconds_left;
  std::string result;             // the run's end: its report, the bag
  std::int64_t docked_since = 0;  // seconds since the epoch
  std::int64_t ended = 0;         // when the run ended; 0 while it runs
  bool overdue = false;           // its newest verified offload is older than the station's mark

  bool attention() const { return stage == SlotStage::failed || overdue; }
  // Seconds it has been docked at `now`, or was until its run ended.
  std::int64_t docked_for(std::int64_t now) const {
    return (ended != 0 ? ended : now) - docked_since;
  }
};

// Seconds since the epoch, as the slots count them.
std::int64_t epoch_seconds();

struct StationState {
  long pid = 0;
  std::int64_t started = 0;
  int slot_count = 0;
  std::string store;
  std::string low_space;  // what the store has left when that is low; empty otherwise
};

// The folder: $KBC_STATION_STATE, else $RUNTIME_DIRECTORY/station (systemd's /run/kbc-q7), else
// /run/kbc-q7/station; for simulated recorders $XDG_RUNTIME_DIR/kbc-q7-simulated.
std::filesystem::path state_folder(bool simulated);

std::string slot_text(const SlotState& slot);
std::optional<SlotState> parse_slot(std::string_view text);
std::string station_text(const StationState& station);
std::optional<StationState> parse_station_state(std::string_view text);

// The service's side: the folder made, held by the lock of `running`, its slots written.
class Board {
 public:
  // The board, or why not: another service holds it, or the folder cannot be made.
  static std::variant<Board, std::string> open(const std::filesystem::path& folder);
  // The lock given back, then the service's own file removed: the folder's readers hear of the
  // end through inotify, as a lock given back tells nobody.
  ~Board();
  Board(Board&&) = default;
  Board& operator=(Board&&) = default;

  void publish(const StationState& station);
  void publish(const SlotState& slot);
  void remove(const std::string& port);
  const std::filesystem::path& folder() const { return folder_; }

 private:
  Board(std::filesystem::path folder, link::Descriptor lock)
      : folder_(std::move(folder)), lock_(std::move(lock)) {}
  void replace(const std::filesystem::path& path, const std::string& text);

  std::filesystem::path folder_;
  link::Descriptor lock_;
};

// The readers' side: what the folder tells now.
struct Drawer {
  bool running = false;  // a service holds the folder's lock
  std::optional<StationState> station;
  std::vector<SlotState> docked;  // by port
};
Drawer read_drawer(const std::filesystem::path& folder);
// Whether a service holds the folder's lock now, without reading its slots.
bool service_running(const std::filesystem::path& folder);

// The file name of a port's slot: the port with anything but letters, digits, '.' and '-' as '_'.
std::string slot_file_name(std::string_view port);

}  // namespace kbc::station
