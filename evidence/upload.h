// Bags verified at the station go on to the agency's S3 object store (Ceph RGW, or any S3 store
// with Object Lock): queued durably, uploaded with the payload's real SHA-256 on every request,
// kept under COMPLIANCE retention, and counted stored only once every object was verified at the
// store itself.
//
// The queue is a folder of the store, STORE/.uploads, one state file per bag: a line per step,
// appended and fsynced, so that it survives a crash or a power cut and no verified object is
// ever uploaded twice.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "console/audit.h"
#include "evidence/s3.h"
#include "evidence/store.h"
#include "link/timing.h"

namespace kbc::evidence {

// The station file's [upload] table.
struct UploadSettings {
  std::string endpoint;  // "http://127.0.0.1:17480"
  std::string region = "us-east-1";
  std::string bucket;
  std::string prefix;  // the station's, before each key
  int retention_days = 180;
  enum class Verify { head, read_back } verify = Verify::head;
  int connections = 4;  // a bag's objects go up, and are checked, over this many at once
  std::filesystem::path credentials;  // access-key, secret-key
};

// The account of the settings, its keys from systemd's credential "s3" where
// $CREDENTIALS_DIRECTORY holds one, else from the credentials file, which nobody else may read.
// The reason when neither gives them.
std::variant<S3Account, std::string> load_account(const UploadSettings& settings,
                                                  const char* credentials_directory);

// One bag's place in the queue, as its state file tells it.
struct QueuedBag {
  std::string name;           // "KBC0001_20261208T143005Z"
  std::filesystem::path bag;  // the bag in the store
  std::uint64_t files = 0;    // Payload-Oxum
  std::uint64_t bytes = 0;
  bool stored = false;               // verified at the object store
  std::optional<std::string> error;  // of its last upload, while not stored
};

class UploadQueue {
 public:
  explicit UploadQueue(Store store);

  // Makes the queue's folder where it is missing: 0, or the errno.
  int make_folder() const;
  // Queues a verified bag; false, with errno set, when its state file cannot be made.
  bool enqueue(const std::filesystem::path& bag) const;
  // Every queued bag, oldest first, stored ones included.
  std::vector<QueuedBag> bags() const;
  // The bag's place, by its name; nullopt when it was never queued.
  std::optional<QueuedBag> find(const std::string& name) const;
  const std::filesystem::path& folder() const { return folder_; }
  const Store& store() const { return store_; }

 private:
  QueuedBag queued(const std::filesystem::path& state_file) const;

  Store store_;
  std::filesystem::path folder_;
};

// Where the upload's bytes come from: the tests damage a payload on its way here.
class UploadIo {
 public:
  virtual ~UploadIo() = default;
  virtual long read(int fd, std::uint64_t offset, std::span<std::byte> into);
};

struct UploadEvents {
  // An object's bytes, or a part's, went out and the store took them.
  std::function<void(const std::string& key, int part)> sent;
};

struct Uploaded {
  std::string bag;  // its name
  bool stored = false;
  std::uint64_t objects = 0;
  std::uint64_t bytes = 0;
  bool permanent = false;  // refused (403, 400): trying again will not help until it is mended
  bool busy = false;       // another drain holds the queue: it goes on there
  std::optional<std::string> problem;
};

struct UploadRun {
  S3Client& client;
  const UploadSettings& settings;
  console::AuditTrail* trail = nullptr;
  link::Pause& pause;  // between tries: 1, 2, 4, 8 s
  UploadIo& io;
  UploadEvents events{};
  std::chrono::sys_seconds now{};  // the upload's time; retention runs from it
};

// Uploads every queued bag not stored yet, once. A transient failure that outlasts its tries
// ends the drain (the store is out of reach); a refusal ends only its bag. One drain at a time:
// the timer's and an operator's find one `busy` result when the other holds the queue.
std::vector<Uploaded> drain(const UploadQueue& queue, const UploadRun& run);

// The object store's copy of a stored bag checked again, as the settings verify: every object's
// size and SHA-256 (HEAD), or its bytes read back and hashed. The problems found; none when all
// is there.
std::vector<std::string> check_remote(const std::filesystem::path& bag, const UploadQueue& queue,
                                      const UploadRun& run);

// The object store's name of a file of a bag: PREFIX/<bag's path in the store>/<file>.
std::string object_key(const UploadSettings& settings, const Store& store,
                       const std::filesystem::path& bag, std::string_view file);

// Objects larger than this go up in parts of kPartBytes.
inline constexpr std::uint64_t kMultipartAbove = 64ull << 20;
inline constexpr std::uint64_t kPartBytes = 16ull << 20;

}  // namespace kbc::evidence
