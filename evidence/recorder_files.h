// The files a recorder holds, as its disk names them, and their bytes. What a recorder's disk
// says is untrusted: every path is made a plain relative path of its own here, whatever the
// volume claims.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "evidence/blocks.h"

namespace kbc::evidence {

struct RecordedFile {
  // Where the bag keeps it under data/: "/"-separated, no empty, "." or ".." part, each part at
  // most 255 bytes, unique within the recorder.
  std::string path;
  // The path as the recorder names it, where `path` had to differ from it.
  std::string recorder_path;
  std::uint64_t size = 0;
  // Seconds since the epoch; 0 where the volume keeps none.
  std::int64_t modified = 0;
  std::int64_t created = 0;
  std::int64_t accessed = 0;
  // What tells it from another file of the same name, size and times, such as one the recorder
  // wrote in its place: where the volume keeps its metadata (a FAT directory entry's address, an
  // inode), the first block of its data (0 for none), and its creation time's fraction of a
  // second, which FAT keeps in hundredths.
  std::uint64_t address = 0;
  std::uint64_t first_block = 0;
  std::uint32_t created_nano = 0;
};

// A file of the recorder as an offload cut short recorded it, to be held against what the
// recorder lists when the offload goes on.
struct FileIdentity {
  std::uint64_t address = 0;
  std::uint64_t first_block = 0;
  std::uint64_t size = 0;
  std::int64_t modified = 0;
  std::int64_t created = 0;
  std::uint32_t created_nano = 0;

  bool operator==(const FileIdentity&) const = default;
};

FileIdentity identity_of(const RecordedFile& file);

struct ReadFailure {
  std::string what;
  bool gone = false;  // the disk has left: nothing more can be read from it
};

// Takes the next bytes of a file; false stops the read (cancelled, or the store failed).
using Chunk = std::function<bool(std::span<const std::byte> bytes)>;

class RecorderFiles {
 public:
  virtual ~RecorderFiles() = default;
  // What was read: "FAT32", "exFAT in partition 2", "a mounted folder".
  virtual std::string description() const = 0;
  // The volume's serial number as blkid writes it ("1A2B-3C4D", FAT's volume ID or exFAT's volume
  // serial); a mounted folder's file system id. Empty when the volume keeps none.
  virtual std::string volume_serial() const = 0;
  // Every regular file, by path.
  virtual const std::vector<RecordedFile>& files() const = 0;
  // Hands the bytes of files()[index] on in order, from its start to its size. nullopt when all
  // of them were handed on, or when `chunk` stopped the read.
  virtual std::optional<ReadFailure> read(std::size_t index, const Chunk& chunk) = 0;
};

using Opened = std::variant<std::unique_ptr<RecorderFiles>, std::string>;

// A FAT12/16/32 or exFAT volume on the blocks: the whole disk, or the first partition that holds
// one. Read through The Sleuth Kit, so nothing is mounted and nothing written.
Opened read_volume(std::unique_ptr<Blocks> blocks);

// A folder the desktop has mounted, read with plain file I/O; symbolic links are not followed.
Opened read_folder(const std::string& path);

// A block device or an image file through read_volume, a folder through read_folder.
Opened open_recorder_files(const std::string& path);

// Sorts the listing by path, files of one path by their address, so that the same volume always
// lists in the same order and settle_paths gives each file the same path.
void sort_listing(std::vector<RecordedFile>& files);

// Each path made one the bag can hold (see RecordedFile::path), in the order given; a path that
// had to change keeps the recorder's own in recorder_path.
void settle_paths(std::vector<RecordedFile>& files);

// How many files a volume may list: beyond it, the volume is refused rather than listed.
inline constexpr std::size_t kMostFiles = 2'000'000;

}  // namespace kbc::evidence
