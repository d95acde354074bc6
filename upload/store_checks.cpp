#include "upload/store_checks.h"

#include "evidence/sha256.h"

namespace kbc::upload {
namespace {

// "2027-06-06T14:30:05Z" and "2027-06-06T14:30:05.000Z" alike, to the second.
std::string to_the_second(const std::string& date) {
  return date.substr(0, 19);
}

// The headers a HEAD or a GET of the version gives, held against what was noted.
std::optional<std::string> headers_problem(const std::string& key, const S3Response& answer,
                                           const Object& object, const NotedObject& noted) {
  if (noted.version != "-" && answer.header("x-amz-version-id") != noted.version) {
    return key + ": the store's version is not " + noted.version + ", the one uploaded";
  }
  if (answer.header("x-amz-meta-sha256") != object.sha256 ||
      answer.header("content-length") != std::to_string(object.size)) {
    return key + ": the store's object is not the bag's file";
  }
  if (answer.header("x-amz-object-lock-mode") != "COMPLIANCE") {
    return key + ": the store keeps no COMPLIANCE retention for it";
  }
  const std::string until = answer.header("x-amz-object-lock-retain-until-date");
  if (until.size() < 19 ||
      (!noted.retain_until.empty() && to_the_second(until) < to_the_second(noted.retain_until))) {
    return key + ": the store retains it until " + (until.empty() ? "no date" : until) +
           ", not until " + noted.retain_until + " as asked";
  }
  return std::nullopt;
}

// What a refused HEAD or GET of the version says.
std::string refused(const std::string& key, const S3Response& answer, const NotedObject& noted) {
  if (answer.status == 404 && noted.version != "-") {
    return key + ": the version uploaded, " + noted.version + ", is not at the store (" +
           answer.what() + ")";
  }
  return key + ": " + answer.what();
}

}  // namespace

std::optional<std::string> problem_at_store(Connection& connection, const std::string& key,
                                            const Object& object, const NotedObject& noted,
                                            UploadSettings::Verify verify) {
  const std::string query = noted.version == "-" ? "" : "versionId=" + noted.version;
  S3Client& client = connection.client();
  if (verify == UploadSettings::Verify::head) {
    const S3Response head =
        connection.tried([&] { return client.request("HEAD", key, query, {}); });
    if (!head.ok()) {
      return refused(key, head, noted);
    }
    return headers_problem(key, head, object, noted);
  }
  evidence::Sha256 hash;
  std::uint64_t size = 0;
  const S3Response got = connection.tried([&] {
    hash = evidence::Sha256();
    size = 0;
    return client.request("GET", key, query, {}, {}, [&](std::span<const std::byte> bytes) {
      hash.update(bytes);
      size += bytes.size();
    });
  });
  if (!got.ok()) {
    return refused(key, got, noted);
  }
  if (auto problem = headers_problem(key, got, object, noted)) {
    return problem;
  }
  if (size != object.size || hash.hex() != object.sha256) {
    return key + ": the store's object reads back otherwise than the bag's file";
  }
  return std::nullopt;
}

}  // namespace kbc::upload
