// Bags verified at the station go on to the agency's S3 object store (Ceph RGW, or any S3 store
// with Object Lock): uploaded from the queue with the payload's real SHA-256 on every request,
// kept under COMPLIANCE retention, and counted stored only once every object was verified at the
// store itself.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/timing.h"
#include "upload/connection.h"
#include "upload/queue.h"
#include "upload/s3_client.h"
#include "upload/settings.h"

namespace kbc::upload {

struct Uploaded {
  std::string bag;             // its name
  std::filesystem::path path;  // in the store
  bool stored = false;
  std::uint64_t objects = 0;
  std::uint64_t bytes = 0;
  bool permanent = false;    // refused (403, 400): trying again will not help until it is mended
  bool unreachable = false;  // no answer came: the drain ends, and the next one goes on
  std::optional<std::string> problem;
  // A bag that failed upload after upload waits until then before it is tried again.
  std::optional<std::chrono::sys_seconds> deferred_until;
  // Once stored: "KEY VERSION SHA256" of each object, and the retention asked.
  std::vector<std::string> listed;
  std::string retain_until;
};

struct UploadEvents {
  // An object's bytes, or a part's, went out and the store took them.
  std::function<void(const std::string& key, int part)> sent{};
  // A bag's upload ended, stored or not: said at once, so that a drain cut short has said it.
  std::function<void(const Uploaded& bag)> finished{};
};

struct UploadRun {
  S3Client& client;
  const UploadSettings& settings;
  link::Pause& pause;  // between tries: 1, 2, 4, 8 s
  UploadIo& io;
  UploadEvents events{};
  std::chrono::sys_seconds now{};  // the upload's time; retention runs from it
};

struct Drained {
  // Another drain holds the queue: it goes on there, and nothing was done here.
  std::optional<std::string> busy;
  UploadQueue::Repaired repaired;
  // The bucket's problem, where it could not be reached or made.
  std::optional<Uploaded> bucket;
  std::vector<Uploaded> bags;
};

// Mends the queue (UploadQueue::repair), then uploads every waiting bag once, the oldest offload
// first. A store that gives no answer ends the drain; any other failure ends only its bag, and a
// bag that failed drain after drain waits (backoff) so that it holds no other back. One drain at
// a time, under a lock on the queue's folder: the timer's and an operator's find the other busy.
Drained drain(const UploadQueue& queue, const UploadRun& run);

// The object store's copy of a stored bag checked again, as the settings verify, against what
// the queue noted of each object when it was stored: the problems found; none when all is there.
std::vector<std::string> check_remote(const std::filesystem::path& bag, const UploadQueue& queue,
                                      const UploadRun& run);

}  // namespace kbc::upload
