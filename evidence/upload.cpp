#include "evidence/upload.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <toml++/toml.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <system_error>
#include <thread>

#include "console/profile_file.h"
#include "evidence/bag.h"
#include "evidence/sha256.h"
#include "link/descriptor.h"
#include "link/trace.h"

namespace kbc::evidence {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kState = ".state";
constexpr int kTries = 5;

// What a bag's state file says: the bag, each object stored, the multipart uploads begun and
// not ended, whether it is stored, its last problem.
struct State {
  fs::path bag;                                                        // relative to the store
  std::map<std::string, std::pair<std::string, std::string>> objects;  // key: sha256, version
  std::map<std::string, std::string> open_uploads;                     // upload id: key
  bool stored = false;
  std::optional<std::string> error;
};

State read_state(const fs::path& file) {
  State state;
  std::ifstream in(file);
  std::string line;
  // Lines cut short by a crash do not parse and are left out.
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string word;
    words >> word;
    std::string rest;
    const auto tail = [&] {
      std::getline(words >> std::ws, rest);
      return decoded_manifest_path(rest).value_or("");
    };
    if (word == "bag") {
      state.bag = tail();
    } else if (word == "object") {
      std::string sha, version;
      words >> sha >> version;
      const std::string key = tail();
      if (sha.size() == 64 && !key.empty()) {
        state.objects[key] = {sha, version};
      }
    } else if (word == "multipart") {
      std::string id;
      words >> id;
      state.open_uploads[id] = tail();
    } else if (word == "aborted" || word == "completed") {
      std::string id;
      words >> id;
      state.open_uploads.erase(id);
    } else if (word == "error") {
      state.error = tail();
    } else if (word == "stored") {
      state.stored = true;
      state.error.reset();
    }
  }
  return state;
}

// A line appended to the state file, on the disk before anything depends on it.
bool append(const fs::path& file, const std::string& line) {
  const link::Descriptor fd(::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
  const std::string text = line + "\n";
  return fd.get() >= 0 &&
         ::write(fd.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
         ::fdatasync(fd.get()) == 0;
}

// One object of a bag: its file and what its manifest says of it.
struct Object {
  std::string file;  // relative to the bag: "data/DCIM/0001.MP4", "bag-info.txt"
  std::string sha256;
  std::uint64_t size = 0;
};

// The bag's payload from its manifest and its tag files from the tag manifest, the tag manifest
// itself last; the problem when the bag does not say what it holds.
std::variant<std::vector<Object>, std::string> objects_of(const fs::path& bag) {
  std::vector<Object> objects;
  for (const char* manifest : {"manifest-sha256.txt", "tagmanifest-sha256.txt"}) {
    std::ifstream in(bag / manifest);
    if (!in) {
      return std::string(manifest) + " is missing";
    }
    std::string line;
    while (std::getline(in, line)) {
      const auto path = line.size() > 66 ? decoded_manifest_path(line.substr(66)) : std::nullopt;
      if (!path) {
        return std::string(manifest) + " has a line that is no manifest line";
      }
      objects.push_back({*path, line.substr(0, 64), 0});
    }
  }
  std::ifstream tags(bag / "tagmanifest-sha256.txt", std::ios::binary);
  objects.push_back({"tagmanifest-sha256.txt",
                     sha256_hex(std::string(std::istreambuf_iterator<char>(tags), {})), 0});
  std::error_code error;
  for (Object& object : objects) {
    object.size = fs::file_size(bag / object.file, error);
    if (error) {
      return object.file + ": " + error.message();
    }
  }
  return objects;
}

std::string md5_of(std::string_view text) {
  unsigned char sum[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(text.data(), text.size(), sum, &length, EVP_md5(), nullptr);
  return base64(std::span(sum, length));
}

// x-amz-checksum-sha256: the digest, base64. With the SHA-256 in the signature it stands for
// Content-MD5, which stores ask of uploads under Object Lock, without a second, slower hash.
std::string checksum_of(std::string_view sha256_hex) {
  std::vector<unsigned char> bytes;
  for (std::size_t i = 0; i + 1 < sha256_hex.size(); i += 2) {
    unsigned char byte = 0;
    std::from_chars(sha256_hex.data() + i, sha256_hex.data() + i + 2, byte, 16);
    bytes.push_back(byte);
  }
  return base64(bytes);
}

// The SHA-256 of a stretch of a file, read here and not through the upload's io: what the bag
// holds, to hold what goes out against. `whole` hashes the file on the way.
std::optional<std::string> digest(int fd, std::uint64_t offset, std::uint64_t size,
                                  Sha256* whole = nullptr) {
  Sha256 sha;
  std::vector<std::byte> buffer(1 << 20);
  for (std::uint64_t done = 0; done < size;) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - done));
    const ssize_t n = ::pread(fd, buffer.data(), want, static_cast<off_t>(offset + done));
    if (n <= 0) {
      return std::nullopt;
    }
    const std::span read(buffer.data(), static_cast<std::size_t>(n));
    sha.update(read);
    if (whole != nullptr) {
      whole->update(read);
    }
    done += read.size();
  }
  return sha.hex();
}

// Talks to the store over one connection. The objects of a bag, and their checks, go over
// several at once: an uploader per connection, each with a client of its own, sharing the
// run's pause and events under one lock.
class Uploader {
 public:
  Uploader(const UploadQueue& queue, const UploadRun& run, S3Client& client, std::mutex& shared)
      : queue_(queue), run_(run), client_(client), shared_(shared) {}

  // Tries again what may go through later, pausing 1, 2, 4 and 8 s between tries.
  S3Response tried(const std::function<S3Response()>& attempt) {
    S3Response response;
    for (int i = 0; i < kTries; ++i) {
      if (i > 0) {
        const std::lock_guard lock(shared_);
        run_.pause.pause(std::chrono::milliseconds(1000 << (i - 1)));
      }
      response = attempt();
      if (response.ok() || !response.transient()) {
        return response;
      }
      const std::lock_guard lock(shared_);
      link::tracef("S3: %s, try %d of %d", response.what().c_str(), i + 1, kTries);
    }
    return response;
  }

  // `each(uploader, i)` for every i below `count`, over up to the settings' connections at
  // once, each taking the next i as it finishes one; after an `each` that returns false no
  // further i is begun.
  void on_connections(std::size_t count, const std::function<bool(Uploader&, std::size_t)>& each) {
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stopped{false};
    const auto work = [&](Uploader& uploader) {
      for (std::size_t i = next++; i < count && !stopped; i = next++) {
        if (!each(uploader, i)) {
          stopped = true;
        }
      }
    };
    const auto more = std::min<std::size_t>(
        static_cast<std::size_t>(std::max(run_.settings.connections, 1)) - 1, count);
    std::vector<std::unique_ptr<S3Client>> clients;
    std::vector<std::unique_ptr<Uploader>> uploaders;
    for (std::size_t i = 0; i < more; ++i) {
      clients.push_back(std::make_unique<S3Client>(client_.account()));
      uploaders.push_back(std::make_unique<Uploader>(queue_, run_, *clients.back(), shared_));
    }
    std::vector<std::jthread> threads;
    for (const auto& uploader : uploaders) {
      threads.emplace_back([&work, &uploader] { work(*uploader); });
    }
    work(*this);
  }

  std::optional<Uploaded> bucket_problem() {
    const S3Response head = tried([&] { return client_.request("HEAD", "", "", {}); });
    if (head.ok()) {
      return std::nullopt;
    }
    if (head.status == 404) {
      const S3Response made = tried([&] {
        return client_.request("PUT", "", "", {"x-amz-bucket-object-lock-enabled: true"});
      });
      if (made.ok() || made.code() == "BucketAlreadyOwnedByYou") {
        return std::nullopt;
      }
      return failed("", made, "the bucket cannot be made");
    }
    return failed("", head, "the bucket cannot be reached");
  }

  Uploaded upload_bag(const fs::path& state_file) {
    State state = read_state(state_file);
    const fs::path bag = queue_.store().root() / state.bag;
    Uploaded result;
    result.bag = bag.filename().string();
    // Multipart uploads a crash left open end first: none is ever left behind.
    for (const auto& [id, key] : state.open_uploads) {
      abort(state_file, key, id);
    }
    auto listed = objects_of(bag);
    if (auto* problem = std::get_if<std::string>(&listed)) {
      return stopped(state_file, bag, refusal(*problem));
    }
    const std::vector<Object>& objects = std::get<std::vector<Object>>(listed);
    const std::string retain = iso_utc(run_.now + std::chrono::days(run_.settings.retention_days));
    // Each object's version at the store, or what stopped it.
    std::vector<std::variant<std::string, Uploaded>> versions(objects.size());
    on_connections(objects.size(), [&](Uploader& uploader, std::size_t i) {
      versions[i] = uploader.stored_version(state_file, state, bag, objects[i], retain);
      return std::holds_alternative<std::string>(versions[i]);
    });
    std::vector<std::string> entered;
    for (auto& version : versions) {
      if (auto* problem = std::get_if<Uploaded>(&version)) {
        return stopped(state_file, bag, std::move(*problem));
      }
    }
    for (std::size_t i = 0; i < objects.size(); ++i) {
      const std::string key = object_key(run_.settings, queue_.store(), bag, objects[i].file);
      ++result.objects;
      result.bytes += objects[i].size;
      entered.push_back(key + " " + std::get<std::string>(versions[i]) + " " + objects[i].sha256);
    }
    // Stored only once every object is verified at the store itself.
    if (const auto problems = verify(bag, objects); !problems.empty()) {
      result.permanent = true;
      result.problem = problems.front();
      return stopped(state_file, bag, std::move(result));
    }
    append(state_file, "stored " + retain);
    result.stored = true;
    enter(bag, result, entered, retain);
    return result;
  }

  // Every object checked at the store, over the connections at once: the problems, in the
  // objects' order.
  std::vector<std::string> verify(const fs::path& bag, const std::vector<Object>& objects) {
    std::vector<std::optional<std::string>> found(objects.size());
    on_connections(objects.size(), [&](Uploader& uploader, std::size_t i) {
      found[i] = uploader.problem_of(bag, objects[i]);
      return true;
    });
    std::vector<std::string> problems;
    for (auto& problem : found) {
      if (problem) {
        problems.push_back(std::move(*problem));
      }
    }
    return problems;
  }

 private:
  // The object's version at the store: noted by an earlier run, found there, or sent now; or
  // what stopped it.
  std::variant<std::string, Uploaded> stored_version(const fs::path& state_file, const State& state,
                                                     const fs::path& bag, const Object& object,
                                                     const std::string& retain) {
    const std::string key = object_key(run_.settings, queue_.store(), bag, object.file);
    const auto done = state.objects.find(key);
    if (done != state.objects.end() && done->second.first == object.sha256) {
      return done->second.second;
    }
    std::string version;
    if (auto there = already_there(key, object, retain)) {
      // Stored by a run that ended before it noted it: not sent again.
      version = *there;
    } else {
      auto sent = send(state_file, bag, key, object, retain);
      if (std::holds_alternative<Uploaded>(sent)) {
        return sent;
      }
      version = std::get<std::string>(sent);
    }
    append(state_file, "object " + object.sha256 + " " + version + " " + manifest_path(key));
    return version;
  }

  // What is wrong with the store's copy of the object; nullopt when nothing.
  std::optional<std::string> problem_of(const fs::path& bag, const Object& object) {
    const std::string key = object_key(run_.settings, queue_.store(), bag, object.file);
    if (run_.settings.verify == UploadSettings::Verify::head) {
      const S3Response head = tried([&] { return client_.request("HEAD", key, "", {}); });
      if (!head.ok()) {
        return key + ": " + head.what();
      }
      if (head.header("x-amz-meta-sha256") != object.sha256 ||
          head.header("content-length") != std::to_string(object.size)) {
        return key + ": the store's object is not the bag's file";
      }
      if (head.header("x-amz-object-lock-mode") != "COMPLIANCE") {
        return key + ": the store keeps no retention for it";
      }
      return std::nullopt;
    }
    Sha256 hash;
    std::uint64_t size = 0;
    const S3Response got = tried([&] {
      hash = Sha256();
      size = 0;
      return client_.request("GET", key, "", {}, {}, [&](std::span<const std::byte> bytes) {
        hash.update(bytes);
        size += bytes.size();
      });
    });
    if (!got.ok()) {
      return key + ": " + got.what();
    }
    if (size != object.size || hash.hex() != object.sha256) {
      return key + ": the store's object reads back otherwise than the bag's file";
    }
    return std::nullopt;
  }

  // The version of an object already at `key` with the file's size and SHA-256, under
  // retention: one a run that ended early completed without setting it gets it now.
  std::optional<std::string> already_there(const std::string& key, const Object& object,
                                           const std::string& retain) {
    const S3Response head = tried([&] { return client_.request("HEAD", key, "", {}); });
    if (!head.ok() || head.header("x-amz-meta-sha256") != object.sha256 ||
        head.header("content-length") != std::to_string(object.size)) {
      return std::nullopt;
    }
    const std::string version = version_of(head);
    if (head.header("x-amz-object-lock-mode") != "COMPLIANCE" &&
        !retain_version(key, version, retain).ok()) {
      return std::nullopt;
    }
    return version;
  }

  // COMPLIANCE retention until `retain` on one version of an object.
  S3Response retain_version(const std::string& key, const std::string& version,
                            const std::string& retain) {
    const std::string retention = "<Retention><Mode>COMPLIANCE</Mode><RetainUntilDate>" + retain +
                                  "</RetainUntilDate></Retention>";
    return tried([&] {
      Payload payload;
      payload.bytes = std::as_bytes(std::span(retention));
      payload.md5 = md5_of(retention);
      return client_.request(
          "PUT", key, "retention=" + (version == "-" ? "" : "&versionId=" + version), {}, payload);
    });
  }

  std::vector<std::string> object_headers(const Object& object, const std::string& retain) const {
    return {"x-amz-meta-sha256: " + object.sha256, "x-amz-object-lock-mode: COMPLIANCE",
            "x-amz-object-lock-retain-until-date: " + retain};
  }

  Payload file_payload(int fd, std::uint64_t offset, std::uint64_t size, const std::string& sha) {
    Payload payload;
    payload.fd = fd;
    payload.offset = offset;
    payload.size = size;
    payload.read = [this](int from, std::uint64_t at, std::span<std::byte> into) {
      return run_.io.read(from, at, into);
    };
    payload.sha256 = sha;
    return payload;
  }

  // The object's version id once the store has it, or why not.
  std::variant<std::string, Uploaded> send(const fs::path& state_file, const fs::path& bag,
                                           const std::string& key, const Object& object,
                                           const std::string& retain) {
    const link::Descriptor fd(::open((bag / object.file).c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
      return refusal(object.file + ": " + std::strerror(errno));
    }
    if (object.size <= kMultipartAbove) {
      const auto sha = digest(fd.get(), 0, object.size);
      if (sha != object.sha256) {
        return refusal(object.file + ": the bag's file is not what its manifest says");
      }
      auto headers = object_headers(object, retain);
      headers.push_back("x-amz-checksum-sha256: " + checksum_of(object.sha256));
      S3Response put = tried([&] {
        return client_.request("PUT", key, "", headers,
                               file_payload(fd.get(), 0, object.size, object.sha256));
      });
      if (!put.ok()) {
        return failed(key, put, "not stored");
      }
      if (run_.events.sent) {
        const std::lock_guard lock(shared_);
        run_.events.sent(key, 0);
      }
      return version_of(put);
    }

    // In parts, each with its own hashes. The next part is hashed while this one goes out, and
    // the whole file's SHA-256 on the way: a file that is not what its manifest says (the
    // object's x-amz-meta-sha256) is found at the end, and its upload aborted, never completed.
    Sha256 whole;
    const auto hashed = [&](std::uint64_t offset) {
      return std::async(std::launch::async, [&whole, &fd, &object, offset] {
        return digest(fd.get(), offset, std::min(kPartBytes, object.size - offset), &whole);
      });
    };
    std::future<std::optional<std::string>> next = hashed(0);
    auto headers = object_headers(object, retain);
    headers.push_back("x-amz-checksum-algorithm: SHA256");
    const S3Response begun =
        tried([&] { return client_.request("POST", key, "uploads=", headers); });
    const std::string id = xml_value(begun.body, "UploadId");
    if (!begun.ok() || id.empty()) {
      return failed(key, begun, "its multipart upload cannot begin");
    }
    append(state_file, "multipart " + id + " " + manifest_path(key));
    std::string parts;
    int number = 0;
    for (std::uint64_t offset = 0; offset < object.size; offset += kPartBytes) {
      ++number;
      const std::uint64_t size = std::min(kPartBytes, object.size - offset);
      const std::optional<std::string> sha = next.get();
      if (sha && offset + size < object.size) {
        next = hashed(offset + size);
      }
      const std::string checksum = sha ? checksum_of(*sha) : std::string();
      const S3Response sent = sha ? tried([&] {
        return client_.request(
            "PUT", key, "partNumber=" + std::to_string(number) + "&uploadId=" + id,
            {"x-amz-checksum-sha256: " + checksum}, file_payload(fd.get(), offset, size, *sha));
      })
                                  : S3Response{};
      if (!sent.ok()) {
        abort(state_file, key, id);
        return sha ? failed(key, sent, "part " + std::to_string(number) + " not stored")
                   : refusal(object.file + ": cannot be read");
      }
      parts += "<Part><ChecksumSHA256>" + checksum + "</ChecksumSHA256><ETag>" +
               sent.header("etag") + "</ETag><PartNumber>" + std::to_string(number) +
               "</PartNumber></Part>";
      if (run_.events.sent) {
        const std::lock_guard lock(shared_);
        run_.events.sent(key, number);
      }
    }
    if (whole.hex() != object.sha256) {
      abort(state_file, key, id);
      return refusal(object.file + ": the bag's file is not what its manifest says");
    }
    const std::string body = "<CompleteMultipartUpload>" + parts + "</CompleteMultipartUpload>";
    S3Response completed = tried([&] {
      Payload payload;
      payload.bytes = std::as_bytes(std::span(body));
      return client_.request("POST", key, "uploadId=" + id, {}, payload);
    });
    // A store may answer 200 and say in the body that it failed.
    if (!completed.ok() || !xml_value(completed.body, "Code").empty()) {
      abort(state_file, key, id);
      return failed(key, completed, "its multipart upload cannot complete");
    }
    append(state_file, "completed " + id);
    // A store may keep the retention of a multipart upload's start to itself (Ceph 16 does): it
    // is set on the completed object as well.
    const std::string completed_version = version_of(completed);
    if (const S3Response retained = retain_version(key, completed_version, retain);
        !retained.ok()) {
      return failed(key, retained, "its retention cannot be set");
    }
    return completed_version;
  }

  void abort(const fs::path& state_file, const std::string& key, const std::string& id) {
    const S3Response aborted =
        tried([&] { return client_.request("DELETE", key, "uploadId=" + id, {}); });
    if (aborted.ok() || aborted.code() == "NoSuchUpload") {
      append(state_file, "aborted " + id);
    }
  }

  static Uploaded failed(const std::string& key, const S3Response& response,
                         const std::string& what) {
    Uploaded result;
    result.permanent = !response.transient();
    result.problem = (key.empty() ? "" : key + ": ") + what + ": " + response.what();
    return result;
  }

  // The object's version id; "-" from a bucket that keeps no versions.
  static std::string version_of(const S3Response& response) {
    const std::string version = response.header("x-amz-version-id");
    return version.empty() ? "-" : version;
  }

  static Uploaded refusal(std::string problem) {
    Uploaded result;
    result.permanent = true;
    result.problem = std::move(problem);
    return result;
  }

  // The bag not stored this time: its problem noted in its state and entered in the journal.
  Uploaded stopped(const fs::path& state_file, const fs::path& bag, Uploaded result) {
    result.bag = bag.filename().string();
    append(state_file, "error " + manifest_path(result.problem.value_or("")));
    enter(bag, result, {});
    return result;
  }

  void enter(const fs::path& bag, const Uploaded& result, const std::vector<std::string>& objects,
             const std::string& retain = {}) {
    if (run_.trail == nullptr || !run_.trail->writable()) {
      return;
    }
    const std::optional<std::string> serial = bag_info_value(bag, "Recorder-Serial");
    std::string listed;
    for (const std::string& object : objects) {
      listed += (listed.empty() ? "" : "\n") + object;
    }
    console::AuditEntry entry{"upload",
                              bag.string(),
                              run_.settings.endpoint + "/" + run_.settings.bucket,
                              serial,
                              result.stored      ? console::AuditOutcome::ok
                              : result.permanent ? console::AuditOutcome::refused
                                                 : console::AuditOutcome::failed,
                              {result.stored ? "stored: " + std::to_string(result.objects) +
                                                   " objects, retained until " + retain
                                             : result.problem.value_or("not stored")},
                              false,
                              {{"KBC_BAG", bag.string()},
                               {"KBC_BAG_NAME", bag.filename().string()},
                               {"KBC_BUCKET", run_.settings.bucket}}};
    if (result.stored) {
      entry.fields.emplace_back("KBC_OBJECTS", listed);
      entry.fields.emplace_back("KBC_RETAIN_UNTIL", retain);
    }
    run_.trail->write(entry);
  }

  const UploadQueue& queue_;
  const UploadRun& run_;
  S3Client& client_;
  std::mutex& shared_;
};

}  // namespace

long UploadIo::read(int fd, std::uint64_t offset, std::span<std::byte> into) {
  return ::pread(fd, into.data(), into.size(), static_cast<off_t>(offset));
}

std::variant<S3Account, std::string> load_account(const UploadSettings& settings,
                                                  const char* credentials_directory) {
  fs::path file = settings.credentials;
  if (credentials_directory != nullptr && credentials_directory[0] == '/' &&
      fs::exists(fs::path(credentials_directory) / "s3")) {
    file = fs::path(credentials_directory) / "s3";
  } else {
    struct stat status {};
    if (file.empty() || ::stat(file.c_str(), &status) != 0) {
      return "the S3 credentials file " + file.string() +
             " cannot be read: " + std::strerror(errno);
    }
    if ((status.st_mode & (S_IROTH | S_IWOTH)) != 0) {
      return "the S3 credentials file " + file.string() +
             " may be read by anyone; make it readable by its owner and group only "
             "(chmod o-rw)";
    }
  }
  auto text = console::read_settings_file(file.string());
  if (auto* problem = std::get_if<console::Wording>(&text)) {
    return "the S3 credentials file " + file.string() + ": " + problem->english;
  }
  link::Secret bytes(std::move(std::get<std::string>(text)));
  try {
    const toml::table table = toml::parse(bytes.view());
    const auto access = table["access-key"].value<std::string>();
    const auto secret = table["secret-key"].value<std::string>();
    if (!access || !secret || access->empty() || secret->empty()) {
      return "the S3 credentials file " + file.string() + " needs access-key and secret-key";
    }
    return S3Account{settings.endpoint, settings.region, settings.bucket, link::Secret(*access),
                     link::Secret(*secret)};
  } catch (const toml::parse_error&) {
    // Its text is not repeated: it holds the secret.
    return "the S3 credentials file " + file.string() + " is not TOML";
  }
}

UploadQueue::UploadQueue(Store store)
    : store_(std::move(store)), folder_(store_.root() / ".uploads") {}

int UploadQueue::make_folder() const {
  std::error_code made;
  fs::create_directories(store_.root(), made);
  if (made) {
    return made.value();
  }
  const int error = store_.make_folder(folder_);
  return error == EEXIST ? 0 : error;
}

bool UploadQueue::enqueue(const fs::path& bag) const {
  if (const int error = make_folder(); error != 0) {
    errno = error;
    return false;
  }
  const fs::path file = folder_ / (bag.filename().string() + std::string(kState));
  const std::string line = "bag " + manifest_path(fs::relative(bag, store_.root()).string()) + "\n";
  const link::Descriptor fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0640));
  if (fd.get() < 0) {
    return errno == EEXIST;
  }
  // The upload service appends to it.
  store_.share_file(fd.get());
  if (::write(fd.get(), line.data(), line.size()) != static_cast<ssize_t>(line.size()) ||
      ::fsync(fd.get()) != 0) {
    return false;
  }
  const link::Descriptor folder(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return folder.get() >= 0 && ::fsync(folder.get()) == 0;
}

std::vector<QueuedBag> UploadQueue::bags() const {
  std::vector<fs::path> files;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder_, error)) {
    if (entry.path().extension() == kState) {
      files.push_back(entry.path());
    }
  }
  std::ranges::sort(files);
  std::vector<QueuedBag> bags;
  for (const fs::path& file : files) {
    bags.push_back(queued(file));
  }
  return bags;
}

std::optional<QueuedBag> UploadQueue::find(const std::string& name) const {
  const fs::path file = folder_ / (name + std::string(kState));
  std::error_code error;
  if (!fs::is_regular_file(file, error)) {
    return std::nullopt;
  }
  return queued(file);
}

QueuedBag UploadQueue::queued(const fs::path& state_file) const {
  const State state = read_state(state_file);
  QueuedBag bag;
  bag.name = state_file.stem().string();
  bag.bag = store_.root() / state.bag;
  read_payload_oxum(bag.bag, bag.bytes, bag.files);
  bag.stored = state.stored;
  bag.error = state.error;
  return bag;
}

std::string object_key(const UploadSettings& settings, const Store& store, const fs::path& bag,
                       std::string_view file) {
  std::string key = settings.prefix.empty() ? "" : settings.prefix + "/";
  key += fs::relative(bag, store.root()).generic_string();
  key.append("/").append(file);
  return key;
}

std::vector<Uploaded> drain(const UploadQueue& queue, const UploadRun& run) {
  std::mutex shared;
  Uploader uploader(queue, run, run.client, shared);
  std::vector<Uploaded> results;
  // Two drains at once would both find an object missing and both send it. The lock goes with
  // the process, a crash included.
  const link::Descriptor lock(::open(queue.folder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (lock.get() >= 0 && ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    Uploaded busy;
    busy.busy = true;
    busy.problem = "another upload is draining the queue in " + queue.folder().string();
    results.push_back(std::move(busy));
    return results;
  }
  const std::vector<QueuedBag> bags = queue.bags();
  if (std::ranges::none_of(bags, [](const QueuedBag& bag) { return !bag.stored; })) {
    return results;
  }
  if (auto problem = uploader.bucket_problem()) {
    results.push_back(*problem);
    return results;
  }
  for (const QueuedBag& bag : bags) {
    if (bag.stored) {
      continue;
    }
    results.push_back(uploader.upload_bag(queue.folder() / (bag.name + std::string(kState))));
    // The store out of reach: the next drain tries again.
    if (!results.back().stored && !results.back().permanent) {
      break;
    }
  }
  return results;
}

std::vector<std::string> check_remote(const fs::path& bag, const UploadQueue& queue,
                                      const UploadRun& run) {
  auto listed = objects_of(bag);
  if (auto* problem = std::get_if<std::string>(&listed)) {
    return {*problem};
  }
  std::mutex shared;
  Uploader uploader(queue, run, run.client, shared);
  return uploader.verify(bag, std::get<std::vector<Object>>(listed));
}

}  // namespace kbc::evidence
