// The store's files as the bags need them: every byte written, lines appended and on the disk
// before anything depends on them, and files hashed as the disk holds them, not as the page cache
// remembers them.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kbc::evidence {

class Sha256;

// Where the bag's bytes go and come back from. The tests put faults of the store here: a full
// disk, a byte changed under the bag.
class StoreIo {
 public:
  virtual ~StoreIo() = default;
  virtual ssize_t write(int fd, std::span<const std::byte> bytes);
  virtual ssize_t read(int fd, std::uint64_t offset, std::span<std::byte> bytes);
  // renameat2 with RENAME_NOREPLACE: 0, or -1 with errno (EINVAL where the file system has no
  // such rename, as NFS).
  virtual int rename_noreplace(const char* from, const char* to);
  // The bytes an unprivileged writer may still put into the file system of `path` (statvfs), and
  // its block size; nullopt with errno set when it cannot be asked.
  struct Room {
    std::uint64_t free = 0;
    std::uint64_t block = 4096;
  };
  virtual std::optional<Room> room(const char* path);
};

// Every byte written through `io`, however few each write takes: 0, or the errno.
int write_all(int fd, std::span<const std::byte> bytes, StoreIo& io);

// `text` appended to the open file and on the disk (fdatasync): 0, or the errno.
int append_synced(int fd, std::string_view text);
// The same to the file at `path`, which must exist.
int append_synced(const std::filesystem::path& path, std::string_view text);

// The folder's entries on the disk: 0, or the errno.
int fsync_folder(const std::filesystem::path& folder);

// Drops the file's pages from the page cache, so that the next read of it comes from the disk
// (once they are written: after fsync). A network file system's client drops its own copy; the
// server may still answer from its memory.
void drop_cached(int fd);

struct Hashed {
  std::string sha256;  // empty on an error
  std::uint64_t bytes = 0;
  int error = 0;
  // The file read, for hash_file: a bag is held against a file put in its place afterwards.
  dev_t device = 0;
  ino_t inode = 0;
};

// The SHA-256 of `size` bytes of the open file from `offset` (nullopt: to its end), read through
// `io` in the buffer's size; `also` is fed the same bytes. A file shorter than `size` is EIO.
Hashed hash_range(int fd, std::uint64_t offset, std::optional<std::uint64_t> size, StoreIo& io,
                  std::span<std::byte> buffer, Sha256* also = nullptr);

// The SHA-256 of the file at `path` as its disk holds it: its cached pages dropped first, and the
// device and inode it was read from. Symbolic links are not followed.
Hashed hash_file(const std::filesystem::path& path, StoreIo& io, std::span<std::byte> buffer);

// The file at `from` placed at `to` (which must not exist), as it is: renamed, or where it cannot
// be (a folder only its owner may change), copied read-only and read back as `sha256`. 0, or the
// errno; EIO when the copy reads back otherwise.
int place_file(const std::filesystem::path& from, const std::filesystem::path& to,
               std::string_view sha256, StoreIo& io);

// The folders and files below a bag's data/, nothing followed.
struct PayloadTree {
  std::vector<std::filesystem::path> folders;          // deepest first, data/ itself last
  std::map<std::string, std::filesystem::path> files;  // regular files, by their path under data/
  std::vector<std::string> odd;                        // anything else: links, devices, sockets
  std::optional<std::string> error;                    // the folder could not be read through
};
PayloadTree walk_payload(const std::filesystem::path& data);

}  // namespace kbc::evidence
