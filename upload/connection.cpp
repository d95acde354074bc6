#include "upload/connection.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <future>

#include "evidence/file_io.h"
#include "evidence/manifest.h"
#include "evidence/sha256.h"
#include "link/descriptor.h"
#include "link/trace.h"
#include "upload/queue.h"

namespace kbc::upload {
namespace fs = std::filesystem;
namespace {

constexpr int kTries = 5;

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

// The SHA-256 of a stretch of the bag's file, read here and not through the upload's io: what
// the bag holds, to hold what goes out against. `whole` is fed the same bytes.
std::optional<std::string> digest(int fd, std::uint64_t offset, std::uint64_t size,
                                  evidence::Sha256* whole = nullptr) {
  evidence::StoreIo plain;
  std::vector<std::byte> buffer(1 << 20);
  const evidence::Hashed hashed = evidence::hash_range(fd, offset, size, plain, buffer, whole);
  return hashed.error == 0 ? std::optional(hashed.sha256) : std::nullopt;
}

std::vector<std::string> object_headers(const Object& object, const std::string& retain) {
  return {"x-amz-meta-sha256: " + object.sha256, "x-amz-object-lock-mode: COMPLIANCE",
          "x-amz-object-lock-retain-until-date: " + retain};
}

}  // namespace

long UploadIo::read(int fd, std::uint64_t offset, std::span<std::byte> into) {
  return ::pread(fd, into.data(), into.size(), static_cast<off_t>(offset));
}

Failure failure(const std::string& key, const S3Response& response, const std::string& what) {
  return {!response.transient(), (key.empty() ? "" : key + ": ") + what + ": " + response.what(),
          response.status == 0};
}

Failure refusal(std::string problem) {
  return {true, std::move(problem)};
}

std::string version_of(const S3Response& response) {
  const std::string version = response.header("x-amz-version-id");
  return version.empty() ? "-" : version;
}

S3Response Connection::tried(const std::function<S3Response()>& attempt) {
  S3Response response;
  for (int i = 0; i < kTries; ++i) {
    if (i > 0) {
      const std::lock_guard lock(shared_.mutex);
      shared_.pause.pause(std::chrono::milliseconds(1000 << (i - 1)));
    }
    response = attempt();
    if (response.ok() || !response.transient()) {
      return response;
    }
    const std::lock_guard lock(shared_.mutex);
    link::tracef("S3: %s, try %d of %d", response.what().c_str(), i + 1, kTries);
  }
  return response;
}

std::optional<std::string> Connection::already_there(const std::string& key, const Object& object,
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

S3Response Connection::retain_version(const std::string& key, const std::string& version,
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

void Connection::abort(const fs::path& state_file, const std::string& key, const std::string& id) {
  const S3Response aborted =
      tried([&] { return client_.request("DELETE", key, "uploadId=" + id, {}); });
  if (aborted.ok() || aborted.code() == "NoSuchUpload") {
    append_state(state_file, "aborted " + id);
  }
}

std::variant<std::string, Failure> Connection::send(const fs::path& state_file, const fs::path& bag,
                                                    const std::string& key, const Object& object,
                                                    const std::string& retain) {
  const link::Descriptor fd(::open((bag / object.file).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (fd.get() < 0) {
    return refusal(object.file + ": " + std::strerror(errno));
  }
  const auto file_payload = [&](std::uint64_t offset, std::uint64_t size, const std::string& sha) {
    Payload payload;
    payload.fd = fd.get();
    payload.offset = offset;
    payload.size = size;
    payload.read = [this](int from, std::uint64_t at, std::span<std::byte> into) {
      return shared_.io.read(from, at, into);
    };
    payload.sha256 = sha;
    return payload;
  };
  const auto told = [&](int part) {
    if (shared_.sent) {
      const std::lock_guard lock(shared_.mutex);
      shared_.sent(key, part);
    }
  };
  if (object.size <= kMultipartAbove) {
    const auto sha = digest(fd.get(), 0, object.size);
    if (sha != object.sha256) {
      return refusal(object.file + ": the bag's file is not what its manifest says");
    }
    auto headers = object_headers(object, retain);
    headers.push_back("x-amz-checksum-sha256: " + checksum_of(object.sha256));
    S3Response put = tried([&] {
      return client_.request("PUT", key, "", headers, file_payload(0, object.size, object.sha256));
    });
    if (!put.ok()) {
      return failure(key, put, "not stored");
    }
    told(0);
    return version_of(put);
  }

  // In parts, each with its own hashes. The next part is hashed while this one goes out, and
  // the whole file's SHA-256 on the way: a file that is not what its manifest says (the
  // object's x-amz-meta-sha256) is found at the end, and its upload aborted, never completed.
  evidence::Sha256 whole;
  const auto hashed = [&](std::uint64_t offset) {
    return std::async(std::launch::async, [&whole, &fd, &object, offset] {
      return digest(fd.get(), offset, std::min(kPartBytes, object.size - offset), &whole);
    });
  };
  std::future<std::optional<std::string>> next = hashed(0);
  auto headers = object_headers(object, retain);
  headers.push_back("x-amz-checksum-algorithm: SHA256");
  const S3Response begun = tried([&] { return client_.request("POST", key, "uploads=", headers); });
  const std::string id = xml_value(begun.body, "UploadId");
  if (!begun.ok() || id.empty()) {
    return failure(key, begun, "its multipart upload cannot begin");
  }
  if (const int error =
          append_state(state_file, "multipart " + id + " " + evidence::manifest_path(key));
      error != 0) {
    abort(state_file, key, id);
    return Failure{false, state_file.string() + ": " + std::strerror(error)};
  }
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
      return client_.request("PUT", key, "partNumber=" + std::to_string(number) + "&uploadId=" + id,
                             {"x-amz-checksum-sha256: " + checksum},
                             file_payload(offset, size, *sha));
    })
                                : S3Response{};
    if (!sent.ok()) {
      abort(state_file, key, id);
      return sha ? failure(key, sent, "part " + std::to_string(number) + " not stored")
                 : refusal(object.file + ": cannot be read");
    }
    parts += "<Part><ChecksumSHA256>" + checksum + "</ChecksumSHA256><ETag>" + sent.header("etag") +
             "</ETag><PartNumber>" + std::to_string(number) + "</PartNumber></Part>";
    told(number);
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
    return failure(key, completed, "its multipart upload cannot complete");
  }
  append_state(state_file, "completed " + id);
  // A store may keep the retention of a multipart upload's start to itself (Ceph 16 does): it
  // is set on the completed object as well.
  const std::string completed_version = version_of(completed);
  if (const S3Response retained = retain_version(key, completed_version, retain); !retained.ok()) {
    return failure(key, retained, "its retention cannot be set");
  }
  return completed_version;
}

}  // namespace kbc::upload
