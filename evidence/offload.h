// An offload: every recording off a recorder into the station's evidence store, verified, and
// entered in the audit trail. Per recorder: its serial number (get_sn) where not known, the
// console's switch to mass storage, its disk awaited on the same USB port, read without mounting,
// and the bag. Several recorders are served at once, one thread each, after one scan.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "console/apply.h"
#include "console/audit.h"
#include "evidence/bag.h"
#include "evidence/disk_watch.h"
#include "evidence/store.h"
#include "evidence/upload.h"
#include "link/secret.h"

namespace kbc::evidence {

enum class Stage { switching, waiting_for_disk, copying, verifying, verified, failed, cancelled };

// "waiting-for-disk", ... as kbcctl's JSON names them.
std::string_view stage_name(Stage stage);
// "等待磁盘", ... as the window shows them.
std::string_view stage_text(Stage stage);

struct OffloadStatus {
  Stage stage = Stage::switching;
  std::string serial;  // once it is known
  std::uint64_t files_done = 0;
  std::uint64_t files_total = 0;
  std::uint64_t bytes_done = 0;
  std::uint64_t bytes_total = 0;
  std::chrono::milliseconds copying{0};  // since the first byte was read

  // Bytes a second so far; 0 until half a second of copying tells it.
  double rate() const;
  // Seconds until the last byte at that rate, while copying.
  std::optional<long long> seconds_left() const;
};

// One recorder's receipt.
struct Offloaded {
  std::string location;  // "001/005", or the disk named with --from
  std::string serial;
  Officer officer;
  Stage stage = Stage::failed;  // verified, failed or cancelled
  bool reached = false;         // a session with the recorder was opened (always with --from)
  // What ended it before any bag: "密码错误!", "重新连接!", no disk on the port, a volume that
  // cannot be read. The bag's own problems are in `bag`.
  std::optional<std::string> report;
  BagOutcome bag;

  bool ok() const { return stage == Stage::verified; }
  // Every line of the receipt in order, as kbcctl and the pane show them.
  std::vector<std::string> lines() const;
};

struct OffloadSettings {
  Store store;
  std::string tool;  // "kbcctl 0.2.0": bag-info.txt's Bag-Software-Agent
  std::chrono::milliseconds disk_wait{30'000};
  console::AuditTrail* trail = nullptr;  // written from the recorders' threads, one at a time
  DiskWatch* watch = nullptr;            // where the recorders' disks appear
  StoreIo* io = nullptr;                 // none: plain POSIX file I/O
  // Where each verified bag is queued for the agency's object store; none without [upload].
  const UploadQueue* upload = nullptr;
};

// What each recorder's run tells as it goes, from its own thread; `index` is the target's.
struct OffloadEvents {
  std::function<void(std::size_t index, const OffloadStatus& status)> status;
  std::function<void(std::size_t index, const FileDone& done)> file_done;
};

// A disk already switched and at `disk` (a block device, an image file or a mounted folder),
// offloaded as the recorder `serial` of an officer nobody named.
Offloaded offload_from(const std::string& disk, const std::string& serial,
                       const OffloadSettings& settings, const OffloadEvents& events,
                       std::stop_token stop);

// A recorder switched to mass storage, whose disk is to appear on `port`; or the receipt of one
// that was not switched.
struct Switched {
  std::size_t index = 0;  // of its target
  Offloaded receipt;      // the recorder, its serial number and officer; its end when not ok()
  std::optional<std::string> port;

  bool ok() const { return receipt.stage == Stage::waiting_for_disk; }
};

// The first part of an offload, the only one that talks to the recorders: every target at once,
// each on a thread of its own, its serial number where unknown, its USB port, the switch. Returns
// when all are done. `link` must be the one of the scan that listed the targets.
std::vector<Switched> switch_recorders(const link::Link& link,
                                       std::span<const console::Target> targets,
                                       const link::Secret& password,
                                       const OffloadSettings& settings,
                                       const OffloadEvents& events);

// The rest, on the calling thread: the disk awaited on the port and read into a bag, until done
// or `stop` is asked. The link is not used.
Offloaded offload_switched(Switched switched, const OffloadSettings& settings,
                           const OffloadEvents& events, std::stop_token stop);

// Both for every target at once, each on a thread of its own; `done` hears each receipt as its
// recorder finishes, never two at once. `link` must be the one of the scan that listed the
// targets.
void offload_recorders(const link::Link& link, std::span<const console::Target> targets,
                       const link::Secret& password, const OffloadSettings& settings,
                       const OffloadEvents& events, std::stop_token stop,
                       const std::function<void(Offloaded)>& done);

}  // namespace kbc::evidence
