// The station file's [upload] table: where verified bags go on to, and how.
#pragma once

#include <filesystem>
#include <string>

namespace kbc::upload {

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

}  // namespace kbc::upload
