// One offload's bag (BagIt, RFC 8493), written so that nothing is ever called verified that is
// not: the files under a ".partial" name, each hashed (SHA-256) as it is read off the recorder and
// fsynced with its folders; then every stored file read back and hashed again; only when all
// match are the manifests written and the bag renamed into place. A bag cut short keeps its
// ".partial" name and a record of the files it holds whole, and the next offload of the recorder
// keeps those files and copies only the rest.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

#include "evidence/recorder_files.h"
#include "evidence/store.h"

namespace kbc::evidence {

// What bag-info.txt tells of the offload besides its payload.
struct BagInfo {
  std::string serial;  // get_sn's text, or --serial
  Officer officer;
  std::string host;
  std::string operator_name;
  std::string tool;  // "kbcctl 0.2.0"
};

// Where the bag's bytes go and come back from. The tests put faults of the store here: a full
// disk, a byte changed under the bag.
class StoreIo {
 public:
  virtual ~StoreIo() = default;
  virtual ssize_t write(int fd, std::span<const std::byte> bytes);
  virtual ssize_t read(int fd, std::span<std::byte> bytes);
};

struct FileDone {
  const RecordedFile& file;
  std::string sha256;
  bool kept;  // held whole by the bag of an earlier offload that was cut short; not read again
};

struct BagEvents {
  // The bag's folder (".partial") and whether an earlier offload's bag goes on.
  std::function<void(const std::filesystem::path& partial, bool resumed)> started;
  // Bytes of the payload read so far, whole files kept included.
  std::function<void(std::uint64_t bytes)> progress;
  std::function<void(const FileDone& done)> file_done;
  // Every file is stored; they are being read back.
  std::function<void()> verifying;
};

// What went wrong with one file of the bag, or with the bag (path ""), in both languages.
struct BagProblem {
  enum class Kind {
    recorder,  // the recorder's disk would not give the file
    store,     // the store would not take or give it back
    differs,   // the copy read back is not what was read off the recorder
  };
  Kind kind;
  std::string path;
  std::string detail;  // the system's word ("Input/output error"); empty for `differs`

  // "DCIM/0001.MP4: Input/output error"
  std::string english() const;
  // "DCIM/0001.MP4: 读取记录仪失败 (Input/output error)"
  std::string chinese() const;
};

struct BagOutcome {
  bool verified = false;
  bool cancelled = false;
  bool disk_gone = false;
  std::filesystem::path path;  // the bag, or its ".partial"
  std::string name;            // "<serial>_<stamp>"
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
  std::uint64_t kept = 0;  // files kept from an earlier offload
  std::string tagmanifest_sha256;
  std::vector<BagProblem> problems;

  std::vector<std::string> problem_lines(bool chinese) const;
};

// Offloads every file of `files` into a bag of `store`, or goes on with the newest ".partial" bag
// of the same serial and officer. `started` names a new bag. Stops between reads when `stop` is
// asked, leaving the ".partial" bag.
BagOutcome write_bag(RecorderFiles& files, const Store& store, const BagInfo& info,
                     std::chrono::sys_seconds started, const BagEvents& events,
                     std::stop_token stop, StoreIo& io);

// A manifest's path: '%', CR and LF percent-encoded (RFC 8493 2.1.3).
std::string manifest_path(std::string_view path);
// The path a manifest line names; nullopt for a '%' not followed by two hex digits.
std::optional<std::string> decoded_manifest_path(std::string_view encoded);

}  // namespace kbc::evidence
