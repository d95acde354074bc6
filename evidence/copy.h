// Recorder files copied into a bag's folder at the disks' pace: read off the recorder and hashed
// on one thread, written and synced on the caller's, then read back from the disk (their cached
// pages dropped) and hashed again on a third, with a bounded number of buffers between the first
// two. Each byte is hashed once on the way in and once on the way back.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

#include "evidence/bag_problem.h"
#include "evidence/file_io.h"
#include "evidence/recorder_files.h"
#include "evidence/store.h"

namespace kbc::evidence {

// Where a file's bytes went: the file read back, by its device and inode, so that the bag can be
// held against a file put in its place afterwards.
struct StoredFile {
  std::string sha256;  // as read off the recorder and read back; empty when it was not both
  dev_t device = 0;
  ino_t inode = 0;
};

struct CopyEvents {
  // The file is about to be written: 0, or the errno that stops the copy (its begin line).
  std::function<int(std::size_t index)> begun;
  // The file is on the disk whole, hashed as read: 0, or the errno that stops the copy.
  std::function<int(std::size_t index, const std::string& sha256)> stored;
  // Bytes written so far, of every file of this copy.
  std::function<void(std::uint64_t bytes)> progress;
  // Every file is written; the last ones are being read back.
  std::function<void()> verifying;
};

struct CopyOutcome {
  std::vector<BagProblem> problems;
  bool cancelled = false;
  bool disk_gone = false;
  bool stopped = false;            // a problem of the store or the recorder's disk ended it early
  std::vector<StoredFile> stored;  // per index given, in their order
  std::uint64_t files = 0;         // stored and read back whole
  std::uint64_t bytes = 0;
};

// Copies files()[i] for each i of `indices` to `data`/<its path>, making the folders on the way
// with the store's modes (each folder whose entries changed goes to `changed`). The files are
// made kSealedFile from the start: only this run ever writes them. Stops between reads when
// `stop` is asked.
CopyOutcome copy_files(RecorderFiles& files, std::span<const std::size_t> indices,
                       const std::filesystem::path& data, const Store& store, StoreIo& io,
                       std::stop_token stop, const CopyEvents& events,
                       const std::function<void(const std::filesystem::path&)>& changed);

}  // namespace kbc::evidence
