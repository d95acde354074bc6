#include "offload/upload_account.h"

#include <toml++/toml.h>

#include <filesystem>

#include "offload/secret_file.h"

namespace kbc::offload {
namespace fs = std::filesystem;

std::variant<upload::S3Account, std::string> load_account(const upload::UploadSettings& settings,
                                                          const char* credentials_directory) {
  auto read = read_secret_file("the S3 credentials file", settings.credentials,
                               credentials_directory, "s3");
  if (auto* problem = std::get_if<std::string>(&read)) {
    return std::move(*problem);
  }
  const fs::path& file = std::get<SecretFile>(read).file;
  const link::Secret& bytes = std::get<SecretFile>(read).text;
  try {
    const toml::table table = toml::parse(bytes.view());
    const auto access = table["access-key"].value<std::string>();
    const auto secret = table["secret-key"].value<std::string>();
    if (!access || !secret || access->empty() || secret->empty()) {
      return "the S3 credentials file " + file.string() + " needs access-key and secret-key";
    }
    return upload::S3Account{settings.endpoint, settings.region, settings.bucket,
                             link::Secret(*access), link::Secret(*secret)};
  } catch (const toml::parse_error&) {
    // Its text is not repeated: it holds the secret.
    return "the S3 credentials file " + file.string() + " is not TOML";
  }
}

}  // namespace kbc::offload
