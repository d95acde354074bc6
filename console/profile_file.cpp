#include "console/profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "link/descriptor.h"

namespace kbc::console {
namespace {

// The file's bytes, or why they cannot be had. Only a regular file is read: a FIFO or a device
// could keep the reader waiting or give no end.
std::variant<std::string, std::string> file_text(const std::string& path) {
  const link::Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat status {};
  if (file.get() < 0 || ::fstat(file.get(), &status) != 0) {
    return std::variant<std::string, std::string>(std::in_place_index<1>, std::strerror(errno));
  }
  if (!S_ISREG(status.st_mode)) {
    return std::variant<std::string, std::string>(std::in_place_index<1>, "not a regular file");
  }
  std::string text(kMostProfileBytes + 1, '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    const ssize_t n = ::read(file.get(), text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      return std::variant<std::string, std::string>(std::in_place_index<1>, std::strerror(errno));
    }
    if (n == 0) {
      break;
    }
    got += static_cast<std::size_t>(n);
  }
  if (got > kMostProfileBytes) {
    return std::variant<std::string, std::string>(
        std::in_place_index<1>, "larger than " + std::to_string(kMostProfileBytes / 1024) +
                                    " KiB, too large for a profile");
  }
  text.resize(got);
  return std::variant<std::string, std::string>(std::in_place_index<0>, std::move(text));
}

}  // namespace

std::variant<Profile, std::string> read_profile(const std::string& path,
                                                std::string_view shown_as) {
  auto text = file_text(path);
  const std::string name(shown_as);
  if (text.index() == 1) {
    return name + ": " + std::get<1>(text);
  }
  auto parsed = parse_profile(std::get<0>(text));
  if (auto* error = std::get_if<ProfileError>(&parsed)) {
    return name + ":" + std::to_string(error->line) + ": " + error->message;
  }
  return std::get<Profile>(std::move(parsed));
}

}  // namespace kbc::console
