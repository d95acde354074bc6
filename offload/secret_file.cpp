#include "offload/secret_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "console/profile_file.h"

namespace kbc::offload {
namespace fs = std::filesystem;

std::variant<SecretFile, std::string> read_secret_file(std::string_view what, const fs::path& path,
                                                       const char* credentials_directory,
                                                       std::string_view credential) {
  const std::string named(what);
  fs::path file = path;
  if (credentials_directory != nullptr && credentials_directory[0] == '/' &&
      fs::exists(fs::path(credentials_directory) / credential)) {
    file = fs::path(credentials_directory) / credential;
  } else {
    struct stat status {};
    if (file.empty() || ::stat(file.c_str(), &status) != 0) {
      return named + " " + file.string() + " cannot be read: " + std::strerror(errno);
    }
    if ((status.st_mode & (S_IROTH | S_IWOTH)) != 0) {
      return named + " " + file.string() +
             " may be read by anyone; make it readable by its owner and group only "
             "(chmod o-rw)";
    }
  }
  auto text = console::read_settings_file(file.string());
  if (auto* problem = std::get_if<console::Wording>(&text)) {
    return named + " " + file.string() + ": " + problem->english;
  }
  return SecretFile{file, link::Secret(std::move(std::get<std::string>(text)))};
}

}  // namespace kbc::offload
