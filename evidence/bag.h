// One offload's bag (BagIt, RFC 8493), written so that nothing is ever called verified that is
// not: under the recorder's lock, into a new ".partial" folder, each file hashed (SHA-256) as it
// is read off the recorder, written read-only and synced, then read back from the disk and hashed
// again; only when every file matches, the bag lists exactly its payload and nobody wrote into it
// meanwhile are the tag files written and the bag renamed into place, read-only.
//
// An offload cut short leaves its ".partial" bag and a record of what it holds; the next offload
// of the recorder keeps the files that are the same file of the same volume, stored whole, copies
// the rest, and sets aside in a bag of their own the files the recorder no longer holds.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>
#include <vector>

#include "evidence/bag_info.h"
#include "evidence/bag_problem.h"
#include "evidence/file_io.h"
#include "evidence/recorder_files.h"
#include "evidence/recorder_lock.h"
#include "evidence/set_aside.h"
#include "evidence/store.h"

namespace kbc::evidence {

struct FileDone {
  const RecordedFile& file;
  std::string sha256;
  bool kept;  // held whole by the bag of an earlier offload that was cut short; not read again
};

// What the bag tells as it goes, all from the calling thread.
struct BagEvents {
  // The bag's folder (".partial") and whether earlier offloads' bags go on in it.
  std::function<void(const std::filesystem::path& partial, bool resumed)> started;
  // Bytes of the payload stored so far, whole files kept included.
  std::function<void(std::uint64_t bytes)> progress;
  std::function<void(const FileDone& done)> file_done;
  // Every file is written; the last ones are being read back.
  std::function<void()> verifying;
};

struct BagOutcome {
  bool verified = false;
  bool cancelled = false;
  bool disk_gone = false;
  std::filesystem::path path;  // the bag, or its ".partial"; empty when none was begun
  std::string name;            // "<serial>_<stamp>"
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
  std::uint64_t kept = 0;  // files kept from an earlier offload
  std::string tagmanifest_sha256;
  std::vector<BagProblem> problems;
  // Bags of files the recorder no longer held, made on the way; verified even where this one is
  // not.
  std::vector<SetAsideBag> set_aside;
};

// Offloads every file of `files` into a bag of `store` begun at `started`, going on from what
// earlier offloads of the recorder left. Refuses before writing anything when the store has not
// the room for what is still to copy. Stops between reads when `stop` is asked, leaving the
// ".partial" bag.
BagOutcome write_bag(RecorderFiles& files, const Store& store, const RecorderLock& lock,
                     const BagInfo& info, std::chrono::sys_seconds started, const BagEvents& events,
                     std::stop_token stop, StoreIo& io);

// What the store must have free for `bytes` of payload in `files` files: each file's last block
// whole, and the tag files.
std::uint64_t room_for(std::uint64_t bytes, std::uint64_t files, std::uint64_t block);

}  // namespace kbc::evidence
