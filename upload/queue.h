// The upload queue, STORE/.uploads: one state file per verified bag, "<bag's name>.state", to
// which each step of its upload is appended and synced, so that a crash or a power cut loses
// nothing and no verified object is ever uploaded twice:
//
//   bag PATH                                    the bag, relative to the store
//   multipart ID KEY                            a multipart upload begun ...
//   completed ID | aborted ID                   ... and ended
//   object SHA256 SIZE VERSION RETAIN-UNTIL KEY an object stored, with the retention asked
//   error TEXT                                  why the last upload did not store the bag
//   failed WHEN                                 and when
//   stored RETAIN-UNTIL [WHEN]                  every object verified at the store
//   pruned WHEN VERIFIED FILES BYTES TAG-SHA256 SERIAL   the station's copy removed
//
// Paths, keys and texts are last on their line and percent-encoded as in a manifest. A stored
// bag's state file leaves the folder of waiting ones for .uploads/stored, where the erase rule
// and check --remote still find it: what waits is all that a drain or the window reads.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "evidence/store.h"

namespace kbc::upload {

// What the state file notes of an object at the store.
struct NotedObject {
  std::string sha256;
  std::uint64_t size = 0;
  std::string version;       // "-" from a bucket that keeps no versions
  std::string retain_until;  // asked for when it was stored; empty for an earlier version's line
};

// A bag whose station copy was removed once the object store had held it long enough: what the
// erase rule still needs of it.
struct PrunedBag {
  std::chrono::sys_seconds when{};
  std::chrono::sys_seconds verified{};
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
  std::string tagmanifest_sha256;
  std::string serial;
};

struct QueueState {
  std::optional<std::filesystem::path> bag;    // relative to the store; nullopt for a torn file
  std::map<std::string, NotedObject> objects;  // by key
  std::map<std::string, std::string> open_uploads;  // upload id: key
  bool stored = false;
  std::optional<std::chrono::sys_seconds> stored_at;
  std::optional<std::string> error;
  int failures = 0;                                   // uploads that did not store it
  std::optional<std::chrono::sys_seconds> failed_at;  // the last of them
  std::optional<PrunedBag> pruned;
};

QueueState read_state(const std::filesystem::path& file);

// How long a bag that failed `failures` times in a row waits before it is tried again: not at
// all for the first few, then an hour, doubling to a day; so that a bag one object of which the
// store refuses every time holds no other back.
std::chrono::seconds backoff(int failures);

// A line appended to a state file and on the disk before anything depends on it: 0, or the
// errno.
int append_state(const std::filesystem::path& file, const std::string& line);

// One bag's place in the queue, as its state file tells it.
struct QueuedBag {
  std::string name;           // "KBC0001_20261208T143005Z"
  std::filesystem::path bag;  // the bag in the store
  std::uint64_t files = 0;    // Payload-Oxum
  std::uint64_t bytes = 0;
  bool stored = false;               // verified at the object store
  std::optional<std::string> error;  // of its last upload, while not stored
  std::string stamp;                 // its offload's, by which the queue is ordered
  std::optional<std::chrono::sys_seconds> stored_at;
  int failures = 0;  // uploads that did not store it
  std::optional<std::chrono::sys_seconds> failed_at;
  std::optional<PrunedBag> pruned;  // its station copy removed
};

class UploadQueue {
 public:
  explicit UploadQueue(evidence::Store store);

  // Makes the queue's folder where it is missing: 0, or the errno.
  int make_folder() const;
  // Queues a verified bag; false, with errno set, when its state file cannot be made.
  bool enqueue(const std::filesystem::path& bag) const;
  // Queues each verified bag of the store that has no state file (a crash came between its
  // verification and its queueing), and writes anew each state file a crash left empty or torn.
  // A line for each bag queued or mended; a problem for each that could not be.
  struct Repaired {
    std::vector<std::string> done;
    std::vector<std::string> problems;
  };
  Repaired repair() const;
  // Every bag waiting for the object store, oldest offload first.
  std::vector<QueuedBag> bags() const;
  // Every bag the object store holds, by their state files in .uploads/stored.
  std::vector<QueuedBag> stored_bags() const;
  // The bag's place, by its name, waiting or stored; nullopt when it was never queued.
  std::optional<QueuedBag> find(const std::string& name) const;
  // Where the bag's state file is: among the stored ones once it is, else among the waiting.
  std::filesystem::path state_file(const std::string& name) const;
  // A stored bag's state file moved out of the waiting ones: 0, or the errno.
  int settle(const std::string& name) const;
  const std::filesystem::path& folder() const { return folder_; }
  const evidence::Store& store() const { return store_; }

 private:
  QueuedBag queued(const std::filesystem::path& state_file) const;
  std::vector<QueuedBag> listed(const std::filesystem::path& folder) const;
  // A new state file for the bag, whole or not at all, put in place of a torn one (`replace`) or
  // only where there is none: 0, or the errno (EEXIST: there is one).
  int write_new(const std::filesystem::path& file, const std::filesystem::path& bag,
                bool replace) const;

  evidence::Store store_;
  std::filesystem::path folder_;
};

}  // namespace kbc::upload
