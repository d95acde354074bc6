// An offload: every recording off a recorder into the station's evidence store, verified, queued
// for the object store and entered in the audit trail. Per recorder: its serial number (get_sn)
// where not known, its lock in the store, the console's switch to mass storage, its disk awaited
// on the same USB port, read without mounting, and the bag. Several recorders are served at once,
// one thread each, after one scan.
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
#include "evidence/recorder_lock.h"
#include "evidence/store.h"
#include "link/secret.h"
#include "offload/disk_watch.h"
#include "upload/queue.h"

namespace kbc::offload {

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
  std::chrono::milliseconds copying{0};  // since the first byte was stored

  // Bytes a second so far; 0 until half a second of copying tells it.
  double rate() const;
  // Seconds until the last byte at that rate, while copying.
  std::optional<long long> seconds_left() const;
};

// One recorder's receipt.
struct Offloaded {
  std::string location;  // "001/005", or the disk named with --from
  std::string serial;
  evidence::Officer officer;
  Stage stage = Stage::failed;  // verified, failed or cancelled
  bool reached = false;         // a session with the recorder was opened (always with --from)
  // What ended it before any bag: "密码错误!", "重新连接!", no disk on the port, a volume that
  // cannot be read, another run holding the recorder. The bag's own problems are in `bag`.
  std::optional<std::string> report;
  evidence::BagOutcome bag;

  bool ok() const { return stage == Stage::verified; }
  // Every line of the receipt in order, as kbcctl and the pane show them.
  std::vector<std::string> lines() const;
};

struct OffloadSettings {
  evidence::Store store;
  std::string tool;  // "kbcctl 0.2.0": bag-info.txt's Bag-Software-Agent
  std::chrono::milliseconds disk_wait{30'000};
  console::AuditTrail* trail = nullptr;  // written from the recorders' threads, one at a time
  DiskWatch* watch = nullptr;            // where the recorders' disks appear
  evidence::StoreIo* io = nullptr;       // none: plain POSIX file I/O
  // Where each verified bag is queued for the agency's object store; none without [upload].
  const upload::UploadQueue* upload = nullptr;
};

// What each recorder's run tells as it goes, from its own thread; `index` is the target's.
struct OffloadEvents {
  std::function<void(std::size_t index, const OffloadStatus& status)> status;
  std::function<void(std::size_t index, const evidence::FileDone& done)> file_done;
};

// A disk already switched and at `disk` (a block device, an image file or a mounted folder),
// offloaded as the recorder `serial` of an officer nobody named.
Offloaded offload_from(const std::string& disk, const std::string& serial,
                       const OffloadSettings& settings, const OffloadEvents& events,
                       std::stop_token stop);

// A recorder switched to mass storage, whose disk is to appear on `port`, with its lock; or the
// receipt of one that was not switched.
struct Switched {
  std::size_t index = 0;  // of its target
  Offloaded receipt;      // the recorder, its serial number and officer; its end when not ok()
  std::optional<std::string> port;
  std::optional<evidence::RecorderLock> lock;  // held from before the switch to the bag's end

  bool ok() const { return receipt.stage == Stage::waiting_for_disk; }
};

// The first part of an offload, the only one that talks to the recorders: every target at once,
// each on a thread of its own, its serial number where unknown, its lock, its USB port, the
// switch. Returns when all are done. `link` must be the one of the scan that listed the targets.
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

}  // namespace kbc::offload
