#include "upload/s3_client.h"

#include <openssl/evp.h>
#include <algorithm>

#include <cctype>
#include <cstring>
#include <new>

#include "evidence/sha256.h"
#include "link/owned.h"

namespace kbc::upload {
namespace {

// What a request sends and gets, for curl's callbacks.
struct Exchange {
  const Payload* payload;
  std::uint64_t sent = 0;
  S3Response* response;
  const std::function<void(std::span<const std::byte>)>* sink;
  CURL* curl;
};

std::size_t read_payload(char* buffer, std::size_t size, std::size_t count, void* data) {
  auto& exchange = *static_cast<Exchange*>(data);
  const Payload& payload = *exchange.payload;
  const std::uint64_t total = payload.fd >= 0 ? payload.size : payload.bytes.size();
  const auto n =
      static_cast<std::size_t>(std::min<std::uint64_t>(size * count, total - exchange.sent));
  if (n == 0) {
    return 0;
  }
  if (payload.fd < 0) {
    std::memcpy(buffer, payload.bytes.data() + exchange.sent, n);
  } else {
    const long got = payload.read(payload.fd, payload.offset + exchange.sent,
                                  std::as_writable_bytes(std::span(buffer, n)));
    if (got <= 0) {
      return CURL_READFUNC_ABORT;
    }
    exchange.sent += static_cast<std::uint64_t>(got);
    return static_cast<std::size_t>(got);
  }
  exchange.sent += n;
  return n;
}

// The request's payload is sent again from its start when curl must rewind (a redirect, an
// authentication round).
int seek_payload(void* data, curl_off_t offset, int origin) {
  auto& exchange = *static_cast<Exchange*>(data);
  if (origin != SEEK_SET || offset < 0) {
    return CURL_SEEKFUNC_CANTSEEK;
  }
  exchange.sent = static_cast<std::uint64_t>(offset);
  return CURL_SEEKFUNC_OK;
}

std::size_t write_body(char* data, std::size_t size, std::size_t count, void* into) {
  auto& exchange = *static_cast<Exchange*>(into);
  long status = 0;
  curl_easy_getinfo(exchange.curl, CURLINFO_RESPONSE_CODE, &status);
  if (*exchange.sink && status >= 200 && status < 300) {
    (*exchange.sink)(std::as_bytes(std::span(data, size * count)));
  } else {
    exchange.response->body.append(data, size * count);
  }
  return size * count;
}

std::size_t write_header(char* data, std::size_t size, std::size_t count, void* into) {
  auto& exchange = *static_cast<Exchange*>(into);
  std::string_view line(data, size * count);
  const std::size_t colon = line.find(':');
  if (colon != std::string_view::npos) {
    std::string name(line.substr(0, colon));
    std::ranges::transform(name, name.begin(), [](unsigned char c) { return std::tolower(c); });
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
      value.remove_prefix(1);
    }
    while (!value.empty() &&
           (value.back() == '\r' || value.back() == '\n' || value.back() == ' ')) {
      value.remove_suffix(1);
    }
    exchange.response->headers[name] = std::string(value);
  }
  return size * count;
}

}  // namespace

std::string S3Response::code() const {
  return xml_value(body, "Code");
}

bool S3Response::transient() const {
  if (status == 0 || status >= 500) {
    return true;
  }
  const std::string error = code();
  // A payload the server hashed otherwise than its header says was damaged on the way: sent
  // again, it goes through.
  return error == "SlowDown" || error == "XAmzContentSHA256Mismatch" || error == "BadDigest" ||
         error == "RequestTimeout" || status == 429;
}

std::string S3Response::what() const {
  if (status == 0) {
    return transport.empty() ? std::string("no answer") : transport;
  }
  const std::string error = code();
  return std::to_string(status) + (error.empty() ? "" : " " + error);
}

S3Client::S3Client(S3Account account) : account_(std::move(account)), curl_(curl_easy_init()) {
  if (curl_ == nullptr) {
    throw std::bad_alloc();
  }
}

S3Client::~S3Client() {
  curl_easy_cleanup(curl_);
}

S3Response S3Client::request(std::string_view method, std::string_view key, std::string_view query,
                             const std::vector<std::string>& headers, const Payload& payload,
                             const std::function<void(std::span<const std::byte>)>& sink) {
  S3Response response;
  Exchange exchange{&payload, 0, &response, &sink, curl_};
  curl_easy_reset(curl_);
  std::string url = account_.endpoint + "/" + account_.bucket;
  if (!key.empty()) {
    url += "/" + encoded_key(key);
  }
  if (!query.empty()) {
    url.append("?").append(query);
  }
  const std::uint64_t size = payload.fd >= 0 ? payload.size : payload.bytes.size();
  std::string sha = payload.sha256;
  if (sha.empty()) {
    evidence::Sha256 hash;
    hash.update(payload.bytes);
    sha = hash.hex();
  }
  link::Owned<curl_slist, curl_slist_free_all> list;
  const auto add = [&](const std::string& header) {
    curl_slist* next = curl_slist_append(list.get(), header.c_str());
    if (next == nullptr) {
      throw std::bad_alloc();
    }
    list.release();
    list.reset(next);
  };
  // curl 7.88 signs what it is given and adds no payload hash of its own.
  add("x-amz-content-sha256: " + sha);
  if (!payload.md5.empty()) {
    add("Content-MD5: " + payload.md5);
  }
  for (const std::string& header : headers) {
    add(header);
  }
  const std::string signing = "aws:amz:" + account_.region + ":s3";

  curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl_, CURLOPT_AWS_SIGV4, signing.c_str());
  // curl keeps copies of its own until the next reset; ours are never copied.
  curl_easy_setopt(curl_, CURLOPT_USERNAME, account_.access_key.c_str());
  curl_easy_setopt(curl_, CURLOPT_PASSWORD, account_.secret_key.c_str());
  curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, list.get());
  curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, write_header);
  curl_easy_setopt(curl_, CURLOPT_HEADERDATA, &exchange);
  curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, write_body);
  curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &exchange);
  curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT, 10L);
  // A request that moves less than a kilobyte a second for a minute is given up.
  curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_LIMIT, 1024L);
  curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_TIME, 60L);
  curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl_, CURLOPT_PROTOCOLS_STR, "http,https");
  if ((method == "PUT" || method == "POST") && payload.fd < 0) {
    // A body in memory goes with the request. As an upload, curl would announce it with
    // "Expect: 100-continue" and wait a second for an answer that RGW does not give to every
    // request (PUT ?retention): a second per object.
    curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, payload.bytes.data());
    curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(size));
    curl_easy_setopt(curl_, CURLOPT_CUSTOMREQUEST, std::string(method).c_str());
  } else if (method == "PUT") {
    curl_easy_setopt(curl_, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl_, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
    curl_easy_setopt(curl_, CURLOPT_READFUNCTION, read_payload);
    curl_easy_setopt(curl_, CURLOPT_READDATA, &exchange);
    curl_easy_setopt(curl_, CURLOPT_SEEKFUNCTION, seek_payload);
    curl_easy_setopt(curl_, CURLOPT_SEEKDATA, &exchange);
  } else if (method == "HEAD") {
    curl_easy_setopt(curl_, CURLOPT_NOBODY, 1L);
  } else if (method != "GET") {
    curl_easy_setopt(curl_, CURLOPT_CUSTOMREQUEST, std::string(method).c_str());
  }
  char error[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(curl_, CURLOPT_ERRORBUFFER, error);
  const CURLcode rc = curl_easy_perform(curl_);
  if (rc != CURLE_OK) {
    response.status = 0;
    response.transport = error[0] != '\0' ? error : curl_easy_strerror(rc);
    return response;
  }
  curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &response.status);
  return response;
}

std::string encoded_key(std::string_view key) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : key) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || c == '-' || c == '_' || c == '.' || c == '~' || c == '/') {
      out += c;
    } else {
      out += '%';
      out += kDigits[byte >> 4];
      out += kDigits[byte & 0xf];
    }
  }
  return out;
}

std::string xml_value(std::string_view xml, std::string_view tag) {
  const std::string open = "<" + std::string(tag) + ">";
  const std::string close = "</" + std::string(tag) + ">";
  const std::size_t start = xml.find(open);
  if (start == std::string_view::npos) {
    return {};
  }
  const std::size_t end = xml.find(close, start + open.size());
  return end == std::string_view::npos
             ? std::string()
             : std::string(xml.substr(start + open.size(), end - start - open.size()));
}

std::string base64(std::span<const unsigned char> bytes) {
  // Four characters for every three bytes begun, and the NUL OpenSSL ends them with.
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes.data(),
                                static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(n));
  return out;
}

}  // namespace kbc::upload
