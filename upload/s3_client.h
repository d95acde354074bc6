// An S3 object store through libcurl, each request signed with AWS Signature Version 4
// (CURLOPT_AWS_SIGV4) and carrying the SHA-256 of its payload as x-amz-content-sha256, which the
// server checks. Path-style requests: ENDPOINT/BUCKET/KEY. No SDK.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/secret.h"

namespace kbc::upload {

struct S3Account {
  std::string endpoint;  // "http://127.0.0.1:17480", no trailing slash
  std::string region;    // "us-east-1"
  std::string bucket;
  link::Secret access_key;
  link::Secret secret_key;
};

// Where a request's payload comes from: nothing, bytes in memory, or a stretch of a file read
// through `read` (so that a test can damage it on the way), which goes with PUT only.
struct Payload {
  std::span<const std::byte> bytes{};
  int fd = -1;  // with offset and size, instead of bytes
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  std::function<long(int fd, std::uint64_t offset, std::span<std::byte> into)> read{};
  std::string sha256;  // hex, of what the payload is meant to be; computed for bytes when empty
  std::string md5;     // base64, for Content-MD5; none when empty
};

struct S3Response {
  long status = 0;                             // the HTTP status; 0 when no answer came
  std::string transport;                       // curl's word when no answer came
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
  // A header's value; empty when the answer has none.
  std::string header(const std::string& name) const {
    const auto found = headers.find(name);
    return found == headers.end() ? std::string() : found->second;
  }
  // The <Code> of an error body ("XAmzContentSHA256Mismatch"), empty for none.
  std::string code() const;
  bool ok() const { return status >= 200 && status < 300; }
  // Worth trying again: no answer, a server error, a slow-down, a payload damaged on the way.
  bool transient() const;
  // "403 AccessDenied", "connection refused", for reports.
  std::string what() const;
};

class S3Client {
 public:
  explicit S3Client(S3Account account);
  ~S3Client();
  S3Client(const S3Client&) = delete;
  S3Client& operator=(const S3Client&) = delete;

  // METHOD on /BUCKET/KEY?QUERY (KEY empty: the bucket itself). `key` is the object's name,
  // encoded here; `query` as it goes on the wire ("uploads=", "partNumber=2&uploadId=...").
  // With `sink`, a successful answer's body goes there as it comes instead of into the
  // response, so that a read-back of a large object is never held whole.
  S3Response request(std::string_view method, std::string_view key, std::string_view query,
                     const std::vector<std::string>& headers, const Payload& payload = {},
                     const std::function<void(std::span<const std::byte>)>& sink = {});

  const S3Account& account() const { return account_; }

 private:
  S3Account account_;
  CURL* curl_;
};

// A key as it goes into the URL: each byte but unreserved ones and '/' percent-encoded.
std::string encoded_key(std::string_view key);
// The text between <tag> and </tag> in an XML body; empty when there is none.
std::string xml_value(std::string_view xml, std::string_view tag);
// Bytes in base64, as Content-MD5 and x-amz-checksum-sha256 take a digest.
std::string base64(std::span<const unsigned char> bytes);

}  // namespace kbc::upload
