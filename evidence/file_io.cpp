#include "evidence/file_io.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "evidence/sha256.h"
#include "evidence/store.h"
#include "link/descriptor.h"

namespace kbc::evidence {

ssize_t StoreIo::write(int fd, std::span<const std::byte> bytes) {
  return ::write(fd, bytes.data(), bytes.size());
}

ssize_t StoreIo::read(int fd, std::uint64_t offset, std::span<std::byte> bytes) {
  return ::pread(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
}

int StoreIo::rename_noreplace(const char* from, const char* to) {
  return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

std::optional<StoreIo::Room> StoreIo::room(const char* path) {
  struct statvfs status {};
  if (::statvfs(path, &status) != 0) {
    return std::nullopt;
  }
  const std::uint64_t block = status.f_frsize != 0 ? status.f_frsize : status.f_bsize;
  return Room{static_cast<std::uint64_t>(status.f_bavail) * block, block};
}

int write_all(int fd, std::span<const std::byte> bytes, StoreIo& io) {
  for (std::span<const std::byte> rest = bytes; !rest.empty();) {
    const ssize_t n = io.write(fd, rest);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return n < 0 ? errno : EIO;
    }
    rest = rest.subspan(static_cast<std::size_t>(n));
  }
  return 0;
}

int append_synced(int fd, std::string_view text) {
  StoreIo plain;
  if (const int error = write_all(fd, std::as_bytes(std::span(text)), plain); error != 0) {
    return error;
  }
  return ::fdatasync(fd) == 0 ? 0 : errno;
}

int append_synced(const std::filesystem::path& path, std::string_view text) {
  const link::Descriptor fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW));
  return fd.get() < 0 ? errno : append_synced(fd.get(), text);
}

int fsync_folder(const std::filesystem::path& folder) {
  const link::Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0 || ::fsync(fd.get()) != 0) {
    return errno;
  }
  return 0;
}

void drop_cached(int fd) {
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
}

Hashed hash_range(int fd, std::uint64_t offset, std::optional<std::uint64_t> size, StoreIo& io,
                  std::span<std::byte> buffer, Sha256* also) {
  Hashed hashed;
  Sha256 hash;
  while (!size || hashed.bytes < *size) {
    std::span<std::byte> into = buffer;
    if (size && *size - hashed.bytes < into.size()) {
      into = into.first(static_cast<std::size_t>(*size - hashed.bytes));
    }
    const ssize_t n = io.read(fd, offset + hashed.bytes, into);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0 || (n == 0 && size)) {
      hashed.error = n < 0 ? errno : EIO;
      return hashed;
    }
    if (n == 0) {
      break;
    }
    const std::span read = into.first(static_cast<std::size_t>(n));
    hash.update(read);
    if (also != nullptr) {
      also->update(read);
    }
    hashed.bytes += read.size();
  }
  hashed.sha256 = hash.hex();
  return hashed;
}

Hashed hash_file(const std::filesystem::path& path, StoreIo& io, std::span<std::byte> buffer) {
  const link::Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY));
  struct stat status {};
  if (fd.get() < 0 || ::fstat(fd.get(), &status) != 0) {
    Hashed failed;
    failed.error = errno;
    return failed;
  }
  drop_cached(fd.get());
  Hashed hashed = hash_range(fd.get(), 0, std::nullopt, io, buffer);
  hashed.device = status.st_dev;
  hashed.inode = status.st_ino;
  return hashed;
}

int place_file(const std::filesystem::path& from, const std::filesystem::path& to,
               std::string_view sha256, StoreIo& io) {
  if (::rename(from.c_str(), to.c_str()) == 0) {
    return 0;
  }
  if (errno != EACCES && errno != EPERM && errno != EXDEV) {
    return errno;
  }
  const link::Descriptor in(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY));
  link::Descriptor out(
      ::open(to.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, kSealedFile));
  if (in.get() < 0 || out.get() < 0 || ::fchmod(out.get(), kSealedFile) != 0) {
    return errno;
  }
  std::vector<std::byte> buffer(1 << 20);
  for (std::uint64_t at = 0;;) {
    const ssize_t n = ::pread(in.get(), buffer.data(), buffer.size(), static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      return errno;
    }
    if (n == 0) {
      break;
    }
    if (const int error =
            write_all(out.get(), std::span(buffer).first(static_cast<std::size_t>(n)), io);
        error != 0) {
      return error;
    }
    at += static_cast<std::uint64_t>(n);
  }
  if (::fsync(out.get()) != 0) {
    return errno;
  }
  drop_cached(out.get());
  const Hashed copied = hash_range(out.get(), 0, std::nullopt, io, buffer);
  if (copied.error != 0) {
    return copied.error;
  }
  return copied.sha256 == sha256 ? 0 : EIO;
}

PayloadTree walk_payload(const std::filesystem::path& data) {
  namespace fs = std::filesystem;
  PayloadTree tree;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(data, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    const fs::file_status status = it->symlink_status(error);
    const std::string path = fs::relative(it->path(), data).generic_string();
    if (fs::is_directory(status)) {
      tree.folders.push_back(it->path());
    } else if (fs::is_regular_file(status)) {
      tree.files.emplace(path, it->path());
    } else {
      tree.odd.push_back(path);
    }
  }
  if (error && error != std::errc::no_such_file_or_directory) {
    tree.error = error.message();
  }
  // Not std::ranges: clang 14 takes a path, which is a range itself, for no element type.
  std::stable_sort(tree.folders.begin(), tree.folders.end(),
                   [](const fs::path& a, const fs::path& b) {
                     return std::distance(a.begin(), a.end()) > std::distance(b.begin(), b.end());
                   });
  tree.folders.push_back(data);
  return tree;
}

}  // namespace kbc::evidence
