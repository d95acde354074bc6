// A recorder's disk that the desktop has mounted already, read with plain file I/O: every regular
// file under the folder, symbolic links not followed, nothing written, access times left alone
// where the files' owner reads them.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "evidence/recorder_files.h"
#include "link/descriptor.h"
#include "link/owned.h"

namespace kbc::evidence {
namespace {

constexpr std::size_t kReadBytes = 1 << 20;
constexpr int kMostDepth = 64;

int open_below(int folder, const char* name, int flags) {
  const int base = flags | O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY;
  int fd = ::openat(folder, name, base | O_NOATIME);
  if (fd < 0 && errno == EPERM) {
    fd = ::openat(folder, name, base);
  }
  return fd;
}

class MountedFolder final : public RecorderFiles {
 public:
  MountedFolder(link::Descriptor root, std::vector<RecordedFile> files)
      : root_(std::move(root)),
        serial_(fsid_of(root_.get())),
        files_(std::move(files)),
        buffer_(kReadBytes) {}

  std::string description() const override { return "a mounted folder"; }
  std::string volume_serial() const override { return serial_; }
  const std::vector<RecordedFile>& files() const override { return files_; }

  std::optional<ReadFailure> read(std::size_t index, const Chunk& chunk) override {
    const RecordedFile& file = files_.at(index);
    const std::string& path = file.recorder_path.empty() ? file.path : file.recorder_path;
    const link::Descriptor fd(open_below(root_.get(), path.c_str(), 0));
    if (fd.get() < 0) {
      return ReadFailure{std::strerror(errno), disk_gone(errno)};
    }
    std::uint64_t done = 0;
    while (done < file.size) {
      const auto want =
          static_cast<std::size_t>(std::min<std::uint64_t>(file.size - done, kReadBytes));
      const ssize_t n = ::read(fd.get(), buffer_.data(), want);
      if (n < 0 && errno == EINTR) {
        continue;
      }
      if (n < 0) {
        return ReadFailure{std::strerror(errno), disk_gone(errno)};
      }
      if (n == 0) {
        return ReadFailure{"the file ended before its size"};
      }
      if (!chunk(std::span(buffer_.data(), static_cast<std::size_t>(n)))) {
        return std::nullopt;
      }
      done += static_cast<std::uint64_t>(n);
    }
    return std::nullopt;
  }

 private:
  // The file system's id as statfs gives it: the same for one mount of one volume.
  static std::string fsid_of(int fd) {
    struct statfs status {};
    if (::fstatfs(fd, &status) != 0) {
      return {};
    }
    std::uint32_t parts[2];
    static_assert(sizeof parts == sizeof status.f_fsid);
    std::memcpy(parts, &status.f_fsid, sizeof parts);
    char text[32];
    std::snprintf(text, sizeof text, "fsid %08x%08x", parts[0], parts[1]);
    return text;
  }

  link::Descriptor root_;
  std::string serial_;
  std::vector<RecordedFile> files_;
  std::vector<std::byte> buffer_;
};

// Lists the folder open as `folder` into `files`, its paths under `prefix`; the problem, if any.
std::optional<std::string> list(int folder, const std::string& prefix, int depth,
                                std::vector<RecordedFile>& files) {
  if (depth > kMostDepth) {
    return prefix + ": folders nested too deep";
  }
  // fdopendir takes the descriptor over once it succeeds; a copy keeps `folder` for the caller.
  const int copy = ::dup(folder);
  const link::Owned<DIR, ::closedir> stream(copy >= 0 ? ::fdopendir(copy) : nullptr);
  if (!stream) {
    const int error = errno;
    if (copy >= 0) {
      ::close(copy);
    }
    return prefix + ": " + std::strerror(error);
  }
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* entry = ::readdir(stream.get())) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") {
      names.push_back(name);
    }
  }
  if (errno != 0) {
    return prefix + ": " + std::strerror(errno);
  }
  std::ranges::sort(names);
  for (const std::string& name : names) {
    const std::string path = prefix.empty() ? name : prefix + "/" + name;
    struct stat status {};
    if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
      return path + ": " + std::strerror(errno);
    }
    if (S_ISDIR(status.st_mode)) {
      const link::Descriptor below(open_below(folder, name.c_str(), O_DIRECTORY));
      if (below.get() < 0) {
        return path + ": " + std::strerror(errno);
      }
      if (auto problem = list(below.get(), path, depth + 1, files)) {
        return problem;
      }
    } else if (S_ISREG(status.st_mode)) {
      if (files.size() >= kMostFiles) {
        return "the folder holds more than " + std::to_string(kMostFiles) + " files";
      }
      RecordedFile file;
      file.path = path;
      file.size = static_cast<std::uint64_t>(status.st_size);
      file.modified = status.st_mtim.tv_sec;
      file.accessed = status.st_atim.tv_sec;
      file.address = status.st_ino;
      struct statx extended {};
      if (::statx(folder, name.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &extended) == 0 &&
          (extended.stx_mask & STATX_BTIME)) {
        file.created = extended.stx_btime.tv_sec;
        file.created_nano = extended.stx_btime.tv_nsec;
      }
      files.push_back(std::move(file));
    }
  }
  return std::nullopt;
}

}  // namespace

Opened read_folder(const std::string& path) {
  link::Descriptor root(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY));
  if (root.get() < 0) {
    return path + ": " + std::strerror(errno);
  }
  std::vector<RecordedFile> files;
  if (auto problem = list(root.get(), "", 0, files)) {
    return *problem;
  }
  // Names a folder holds are already parts of their own; what settles them is the bag's limits.
  std::vector<RecordedFile> settled = files;
  settle_paths(settled);
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (!settled[i].recorder_path.empty()) {
      settled[i].recorder_path = files[i].path;
    }
  }
  return std::make_unique<MountedFolder>(std::move(root), std::move(settled));
}

}  // namespace kbc::evidence
