// The station's copy of a bag removed once the agency's object store has held it long enough:
// every object checked at the store again first (size, SHA-256, COMPLIANCE retention whose
// retain-until is still ahead, the version noted at the upload). A bag that is not stored, or
// whose check fails or cannot be made, stays. The queue's record of a removed bag stays, with
// what the erase rule and check --remote need of it.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "upload/drain.h"

namespace kbc::upload {

struct Pruned {
  std::string bag;  // its name
  std::filesystem::path path;
  bool removed = false;             // or, with a dry run, would be
  std::optional<std::string> kept;  // why it stays
  std::vector<std::string> listed;  // "KEY VERSION SHA256" of each object, for the journal
  std::string tagmanifest_sha256;
  std::optional<std::string> serial;  // bag-info's Recorder-Serial
};

struct PruneRun {
  const UploadRun& upload;  // the store, its settings and the time now
  std::chrono::seconds keep_local;
  bool dry_run = false;
  // A bag's removal, said as soon as it is done.
  std::function<void(const Pruned& bag)> removed{};
};

// Every verified bag of the store stored at the object store longer ago than keep_local, and
// every one that is not stored yet or whose check failed: what became of it. Bags stored more
// lately are left out.
std::vector<Pruned> prune(const UploadQueue& queue, const PruneRun& run);

// Removes a bag's folder, read-only as a verified bag is: 0, or the errno.
int remove_bag(const std::filesystem::path& bag);

}  // namespace kbc::upload
