#include "evidence/recorder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "evidence/bag_info.h"

namespace kbc::evidence {

Locked lock_recorder(const Store& store, std::string_view serial, std::string_view who) {
  const std::filesystem::path folder = store.root() / ".locks";
  std::error_code made;
  std::filesystem::create_directories(store.root(), made);
  if (made) {
    return LockFailed{made.value()};
  }
  if (const int error = store.make_folder(folder); error != 0 && error != EEXIST) {
    return LockFailed{error};
  }
  const std::filesystem::path file = folder / (folder_name(serial) + ".lock");
  // Another operator's lock file of a store that is not shared may only be read: flock needs no
  // more, but then the holder's name cannot be written.
  link::Descriptor fd(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0640));
  const bool writable = fd.get() >= 0;
  if (!writable) {
    fd = link::Descriptor(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  }
  if (fd.get() < 0) {
    return LockFailed{errno};
  }
  if (writable) {
    store.share_file(fd.get());
  }
  while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) {
      continue;
    }
    if (errno != EWOULDBLOCK) {
      return LockFailed{errno};
    }
    char text[512] = {};
    const ssize_t n = ::pread(fd.get(), text, sizeof text - 1, 0);
    std::string holder(text, n > 0 ? static_cast<std::size_t>(n) : 0);
    while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\0')) {
      holder.pop_back();
    }
    return LockBusy{holder.empty() ? "another run" : holder};
  }
  if (writable) {
    const std::string since =
        iso_utc(std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()));
    const std::string text = std::string(who) + ", since " + since + "\n";
    if (::ftruncate(fd.get(), 0) == 0) {
      [[maybe_unused]] const ssize_t n = ::pwrite(fd.get(), text.data(), text.size(), 0);
    }
  }
  return RecorderLock(std::move(fd), std::string(serial));
}

std::string lock_holder_text(std::string_view host, std::string_view user) {
  return "host " + std::string(host) + ", pid " + std::to_string(::getpid()) + ", user " +
         std::string(user);
}

}  // namespace kbc::evidence
