#include "evidence/blocks.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kbc::evidence {

std::variant<std::unique_ptr<FileBlocks>, std::string> FileBlocks::open(const std::string& path) {
  // O_NOATIME keeps even the image's access time as it was; only the owner may ask for it.
  link::Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOATIME));
  if (fd.get() < 0 && errno == EPERM) {
    fd = link::Descriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  }
  if (fd.get() < 0) {
    return path + ": " + std::strerror(errno);
  }
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) {
    return path + ": " + std::strerror(errno);
  }
  std::uint64_t size = 0;
  if (S_ISREG(status.st_mode)) {
    size = static_cast<std::uint64_t>(status.st_size);
  } else if (S_ISBLK(status.st_mode)) {
    if (::ioctl(fd.get(), BLKGETSIZE64, &size) != 0) {
      // A device the kernel will not size this way still knows where it ends.
      const off_t end = ::lseek(fd.get(), 0, SEEK_END);
      if (end < 0) {
        return path + ": " + std::strerror(errno);
      }
      size = static_cast<std::uint64_t>(end);
    }
  } else {
    return path + ": neither a block device nor an image file";
  }
  return std::make_unique<FileBlocks>(std::move(fd), size);
}

std::int64_t FileBlocks::read_at(std::uint64_t offset, std::span<std::byte> bytes) {
  while (true) {
    const ssize_t n = ::pread(fd_.get(), bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (n >= 0) {
      return n;
    }
    if (errno != EINTR) {
      return -errno;
    }
  }
}

bool disk_gone(int error) {
  return error == ENODEV || error == ENXIO || error == ENOMEDIUM || error == ESHUTDOWN;
}

}  // namespace kbc::evidence
