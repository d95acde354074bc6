// One connection to the object store and what goes over it: requests tried again while they may
// go through later, an object's file PUT whole or in parts under COMPLIANCE retention, a version's
// retention set, a multipart upload aborted.
#pragma once

#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "link/timing.h"
#include "upload/objects.h"
#include "upload/s3_client.h"

namespace kbc::upload {

// Objects larger than this go up in parts of kPartBytes.
inline constexpr std::uint64_t kMultipartAbove = 64ull << 20;
inline constexpr std::uint64_t kPartBytes = 16ull << 20;

// Where the upload's bytes come from: the tests damage a payload on its way here.
class UploadIo {
 public:
  virtual ~UploadIo() = default;
  virtual long read(int fd, std::uint64_t offset, std::span<std::byte> into);
};

// Why an object, or a bag, was not stored this time.
struct Failure {
  bool permanent = false;  // refused (403, 400): trying again will not help until it is mended
  std::string problem;
  bool unreachable = false;  // no answer came: the store is out of reach, for every bag
};

// A failure of the store's answer: transient or not as the answer is.
Failure failure(const std::string& key, const S3Response& response, const std::string& what);
Failure refusal(std::string problem);

// The object's version id; "-" from a bucket that keeps no versions.
std::string version_of(const S3Response& response);

// What each connection shares with the others: the pause between tries, the payload's source and
// the event of a part gone out, all under one lock.
struct Shared {
  link::Pause& pause;  // between tries: 1, 2, 4, 8 s
  UploadIo& io;
  std::function<void(const std::string& key, int part)> sent;
  std::mutex mutex{};
};

class Connection {
 public:
  Connection(S3Client& client, Shared& shared) : client_(client), shared_(shared) {}

  S3Client& client() { return client_; }

  // Tries again what may go through later, pausing 1, 2, 4 and 8 s between tries.
  S3Response tried(const std::function<S3Response()>& attempt);

  // The object's version once the store has its file, or why not. Its multipart upload, if any,
  // is noted in the bag's state file before its parts go and ended there after.
  std::variant<std::string, Failure> send(const std::filesystem::path& state_file,
                                          const std::filesystem::path& bag, const std::string& key,
                                          const Object& object, const std::string& retain);
  // The version of an object already at `key` with the file's size and SHA-256, under
  // retention: one a run that ended early completed without setting it gets it now.
  std::optional<std::string> already_there(const std::string& key, const Object& object,
                                           const std::string& retain);
  // COMPLIANCE retention until `retain` on one version of an object.
  S3Response retain_version(const std::string& key, const std::string& version,
                            const std::string& retain);
  // Ends a multipart upload, and notes it where the store confirms.
  void abort(const std::filesystem::path& state_file, const std::string& key,
             const std::string& id);

 private:
  S3Client& client_;
  Shared& shared_;
};

}  // namespace kbc::upload
