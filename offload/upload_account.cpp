#include "offload/upload_account.h"

#include <sys/stat.h>

#include <toml++/toml.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "console/profile_file.h"

namespace kbc::offload {
namespace fs = std::filesystem;

std::variant<upload::S3Account, std::string> load_account(const upload::UploadSettings& settings,
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
    return upload::S3Account{settings.endpoint, settings.region, settings.bucket,
                             link::Secret(*access), link::Secret(*secret)};
  } catch (const toml::parse_error&) {
    // Its text is not repeated: it holds the secret.
    return "the S3 credentials file " + file.string() + " is not TOML";
  }
}

}  // namespace kbc::offload
