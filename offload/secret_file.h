// A file of secrets a service reads: systemd's credential where the service was handed one
// ($CREDENTIALS_DIRECTORY, readable by the service alone), else the file named, refused when
// anyone may read it or change it. Its text is held as a secret from the read on.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <variant>

#include "link/secret.h"

namespace kbc::offload {

struct SecretFile {
  std::filesystem::path file;  // the one read: the credential or the file named
  link::Secret text;
};

// `what` names the file in the reasons: "the S3 credentials file".
std::variant<SecretFile, std::string> read_secret_file(std::string_view what,
                                                       const std::filesystem::path& path,
                                                       const char* credentials_directory,
                                                       std::string_view credential);

}  // namespace kbc::offload
