// The volume reader: The Sleuth Kit lists a FAT or exFAT volume from our own blocks, and each
// file's bytes are read straight from the runs of clusters it names, in large reads, each byte of
// the disk once.

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "evidence/recorder_files.h"
#include "evidence/tsk_library.h"
#include "link/owned.h"

namespace kbc::evidence {
namespace {

constexpr std::size_t kReadBytes = 1 << 20;

// The image as The Sleuth Kit sees it: its own header first, so that it can be handed to
// tsk::img_open_external, then our blocks. Allocated zeroed, as the library expects its cache.
struct Image {
  TSK_IMG_INFO info;
  Blocks* blocks;
  int last_error;  // of the last read the library got nothing from
  int failures;    // reads the library got nothing from
};

constexpr std::size_t kSector = 512;

ssize_t read_image(TSK_IMG_INFO* info, TSK_OFF_T offset, char* buffer, std::size_t length) {
  auto* image = reinterpret_cast<Image*>(info);
  const auto fail = [&](int error) {
    image->last_error = error;
    ++image->failures;
    return ssize_t{-1};
  };
  if (offset < 0) {
    return fail(EINVAL);
  }
  const auto at = static_cast<std::uint64_t>(offset);
  const auto bytes = std::as_writable_bytes(std::span(buffer, length));
  const std::int64_t n = image->blocks->read_at(at, bytes);
  if (n >= 0) {
    return static_cast<ssize_t>(n);
  }
  if (disk_gone(static_cast<int>(-n)) || length <= kSector) {
    return fail(static_cast<int>(-n));
  }
  // The library reads ahead into its cache: a bad sector past what it asked for must not fail
  // the folder it asked for. It gets the sectors up to the bad one.
  std::size_t got = 0;
  while (got < length) {
    const std::size_t part = std::min(kSector, length - got);
    const std::int64_t sector = image->blocks->read_at(at + got, bytes.subspan(got, part));
    if (sector <= 0) {
      break;
    }
    got += static_cast<std::size_t>(sector);
  }
  return got > 0 ? static_cast<ssize_t>(got) : fail(static_cast<int>(-n));
}

void close_image(TSK_IMG_INFO* info) {
  std::free(info);
}

void describe_image(TSK_IMG_INFO*, FILE*) {}

using ImagePtr = link::Owned<TSK_IMG_INFO, tsk::img_close>;
using VolumesPtr = link::Owned<TSK_VS_INFO, tsk::vs_close>;
using FsPtr = link::Owned<TSK_FS_INFO, tsk::fs_close>;
using FilePtr = link::Owned<TSK_FS_FILE, tsk::fs_file_close>;

std::string tsk_problem() {
  const char* text = tsk::error_get();
  std::string problem = text ? text : "not readable";
  tsk::error_reset();
  return problem;
}

const char* kind_of(TSK_FS_TYPE_ENUM type) {
  switch (type) {
    case TSK_FS_TYPE_FAT12:
      return "FAT12";
    case TSK_FS_TYPE_FAT16:
      return "FAT16";
    case TSK_FS_TYPE_FAT32:
      return "FAT32";
    case TSK_FS_TYPE_EXFAT:
      return "exFAT";
    default:
      return "FAT";
  }
}

// A FAT or exFAT volume at this byte offset; nullptr when there is none.
FsPtr fat_at(TSK_IMG_INFO* image, TSK_OFF_T offset) {
  FsPtr fs(tsk::fs_open_img(image, offset, TSK_FS_TYPE_FAT_DETECT));
  tsk::error_reset();
  return fs && TSK_FS_TYPE_ISFAT(fs->ftype) ? std::move(fs) : nullptr;
}

// What The Sleuth Kit adds of its own in the root folder: the volume label and exFAT's
// allocation bitmap and up-case table appear as files, but hold no recording.
bool tsk_entry(const char* folder, const TSK_FS_FILE& file) {
  if (folder[0] != '\0') {
    return false;
  }
  const std::string_view name = file.name->name;
  static constexpr std::string_view kLabel = "(Volume Label Entry)";
  if (name.size() >= kLabel.size() && name.substr(name.size() - kLabel.size()) == kLabel &&
      file.meta->size == 0) {
    return true;
  }
  static constexpr std::string_view kExfat[] = {"$ALLOC_BITMAP", "$UPCASE_TABLE", "$VOLUME_GUID",
                                                "$TEX_FAT", "$ACT"};
  return file.fs_info->ftype == TSK_FS_TYPE_EXFAT &&
         std::ranges::find(kExfat, name) != std::end(kExfat);
}

struct Listing {
  std::vector<RecordedFile> files;
  bool too_many = false;
};

// Where the file's data begins: the first block of its first run that is not sparse; 0 for a
// file without data.
std::uint64_t first_block(TSK_FS_FILE* file) {
  const TSK_FS_ATTR* attribute = tsk::fs_file_attr_get(file);
  if (attribute == nullptr || (attribute->flags & TSK_FS_ATTR_NONRES) == 0) {
    tsk::error_reset();
    return 0;
  }
  for (const TSK_FS_ATTR_RUN* run = attribute->nrd.run; run != nullptr; run = run->next) {
    if ((run->flags & (TSK_FS_ATTR_RUN_FLAG_SPARSE | TSK_FS_ATTR_RUN_FLAG_FILLER)) == 0) {
      return run->addr;
    }
  }
  return 0;
}

// The volume's serial number as blkid writes it: the boot sector's FAT volume ID (FAT12/16 at
// 39, FAT32 at 67, after the extended boot signature 0x29) or exFAT's volume serial (at 100).
std::string serial_of(Blocks& blocks, const TSK_FS_INFO& fs) {
  std::array<std::byte, 512> sector{};
  if (fs.offset < 0 || blocks.read_at(static_cast<std::uint64_t>(fs.offset), sector) !=
                           static_cast<std::int64_t>(sector.size())) {
    return {};
  }
  std::size_t at = 0;
  if (fs.ftype == TSK_FS_TYPE_EXFAT) {
    at = 100;
  } else {
    const std::size_t signature = fs.ftype == TSK_FS_TYPE_FAT32 ? 66 : 38;
    if (sector[signature] != std::byte{0x29}) {
      return {};
    }
    at = signature + 1;
  }
  std::uint32_t id = 0;
  for (int i = 3; i >= 0; --i) {
    id = (id << 8) | std::to_integer<std::uint32_t>(sector[at + static_cast<std::size_t>(i)]);
  }
  char text[16];
  std::snprintf(text, sizeof text, "%04X-%04X", id >> 16, id & 0xFFFF);
  return text;
}

TSK_WALK_RET_ENUM list_file(TSK_FS_FILE* file, const char* folder, void* data) {
  auto& listing = *static_cast<Listing*>(data);
  if (file->name == nullptr || file->meta == nullptr || file->name->name == nullptr ||
      file->meta->type != TSK_FS_META_TYPE_REG ||
      (file->name->flags & TSK_FS_NAME_FLAG_ALLOC) == 0 ||
      (file->meta->flags & TSK_FS_META_FLAG_ALLOC) == 0 || tsk_entry(folder, *file) ||
      file->meta->size < 0) {
    return TSK_WALK_CONT;
  }
  if (listing.files.size() >= kMostFiles) {
    listing.too_many = true;
    return TSK_WALK_STOP;
  }
  RecordedFile recorded;
  recorded.path = std::string(folder) + file->name->name;
  recorded.size = static_cast<std::uint64_t>(file->meta->size);
  recorded.modified = file->meta->mtime;
  recorded.created = file->meta->crtime;
  recorded.accessed = file->meta->atime;
  recorded.address = file->meta->addr;
  recorded.created_nano = static_cast<std::uint32_t>(file->meta->crtime_nano);
  recorded.first_block = first_block(file);
  listing.files.push_back(std::move(recorded));
  return TSK_WALK_CONT;
}

class Volume final : public RecorderFiles {
 public:
  Volume(std::unique_ptr<Blocks> blocks, ImagePtr image, VolumesPtr volumes, FsPtr fs,
         std::string description, std::vector<RecordedFile> files)
      : blocks_(std::move(blocks)),
        image_(std::move(image)),
        volumes_(std::move(volumes)),
        fs_(std::move(fs)),
        description_(std::move(description)),
        serial_(serial_of(*blocks_, *fs_)),
        files_(std::move(files)),
        buffer_(kReadBytes) {}

  ~Volume() override {
    // The library's handles first: the image reads through the blocks.
    fs_.reset();
    volumes_.reset();
    image_.reset();
  }

  std::string description() const override { return description_; }
  std::string volume_serial() const override { return serial_; }
  const std::vector<RecordedFile>& files() const override { return files_; }

  std::optional<ReadFailure> read(std::size_t index, const Chunk& chunk) override {
    const RecordedFile& recorded = files_.at(index);
    const FilePtr file(tsk::fs_file_open_meta(fs_.get(), nullptr, recorded.address));
    const TSK_FS_ATTR* attribute = file ? tsk::fs_file_attr_get(file.get()) : nullptr;
    if (attribute == nullptr) {
      return ReadFailure{"the volume has no data for it: " + tsk_problem()};
    }
    if ((attribute->flags & TSK_FS_ATTR_NONRES) == 0) {
      return ReadFailure{"the volume keeps its data in a form this reader does not take"};
    }
    return read_runs(*attribute, recorded.size, chunk);
  }

 private:
  std::optional<ReadFailure> failure(std::int64_t error) const {
    const int number = static_cast<int>(-error);
    return ReadFailure{std::strerror(number), disk_gone(number)};
  }

  std::optional<ReadFailure> read_runs(const TSK_FS_ATTR& attribute, std::uint64_t size,
                                       const Chunk& chunk) {
    const std::uint64_t block = fs_->block_size;
    const auto valid = static_cast<std::uint64_t>(std::max<TSK_OFF_T>(attribute.nrd.initsize, 0));
    if (attribute.nrd.skiplen != 0 || block == 0) {
      return ReadFailure{"the volume keeps its data in a form this reader does not take"};
    }
    std::uint64_t done = 0;  // bytes of the file handed on
    for (const TSK_FS_ATTR_RUN* run = attribute.nrd.run; run != nullptr && done < size;
         run = run->next) {
      // What the volume says is checked before it is used: runs in order, within the disk.
      std::uint64_t start = 0;
      std::uint64_t at = 0;
      if (__builtin_mul_overflow(run->offset, block, &start) || start != done ||
          __builtin_mul_overflow(run->addr, block, &at) ||
          __builtin_add_overflow(at, static_cast<std::uint64_t>(fs_->offset), &at)) {
        return ReadFailure{"the volume's runs of the file are out of order"};
      }
      const std::uint64_t left_in_file = size - done;
      std::uint64_t run_bytes = 0;
      if (__builtin_mul_overflow(run->len, block, &run_bytes) || run_bytes > left_in_file) {
        run_bytes = left_in_file;
      }
      const bool zeros = (run->flags & (TSK_FS_ATTR_RUN_FLAG_SPARSE | TSK_FS_ATTR_RUN_FLAG_FILLER));
      for (std::uint64_t left = run_bytes; left > 0;) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left, kReadBytes));
        std::span<std::byte> part(buffer_.data(), want);
        if (zeros || done >= valid) {
          std::fill(part.begin(), part.end(), std::byte{0});
        } else {
          for (std::size_t got = 0; got < want;) {
            const std::int64_t n = blocks_->read_at(at + got, part.subspan(got));
            if (n < 0) {
              return failure(n);
            }
            if (n == 0) {
              return ReadFailure{"the file's clusters lie beyond the end of the disk"};
            }
            got += static_cast<std::size_t>(n);
          }
          // Past the valid data length an exFAT file reads as zeros, whatever its clusters hold.
          if (done + want > valid) {
            std::fill(part.begin() + static_cast<std::ptrdiff_t>(valid - done), part.end(),
                      std::byte{0});
          }
        }
        if (!chunk(part)) {
          return std::nullopt;
        }
        done += want;
        at += want;
        left -= want;
      }
    }
    if (done < size) {
      return ReadFailure{"the volume's runs of the file end before its size"};
    }
    return std::nullopt;
  }

  std::unique_ptr<Blocks> blocks_;
  ImagePtr image_;
  VolumesPtr volumes_;
  FsPtr fs_;
  std::string description_;
  std::string serial_;
  std::vector<RecordedFile> files_;
  std::vector<std::byte> buffer_;
};

}  // namespace

Opened read_volume(std::unique_ptr<Blocks> blocks) {
  if (std::optional<std::string> problem = tsk::load()) {
    return *problem;
  }
  auto* image = static_cast<Image*>(std::calloc(1, sizeof(Image)));
  if (image == nullptr) {
    return std::string("out of memory");
  }
  image->blocks = blocks.get();
  ImagePtr opened(tsk::img_open_external(image, static_cast<TSK_OFF_T>(blocks->size()), 512,
                                         read_image, close_image, describe_image));
  if (!opened) {
    std::free(image);
    return "the disk cannot be read: " + tsk_problem();
  }

  // The whole disk first: a FAT boot sector also looks like a partition table.
  std::string description;
  VolumesPtr volumes;
  FsPtr fs = fat_at(opened.get(), 0);
  if (fs) {
    description = kind_of(fs->ftype);
  } else {
    volumes.reset(tsk::vs_open(opened.get(), 0, TSK_VS_TYPE_DETECT));
    tsk::error_reset();
    // Partitions are counted as the operator counts them: the allocated ones, from 1.
    int number = 0;
    for (TSK_PNUM_T i = 0; volumes && !fs && i < volumes->part_count; ++i) {
      const TSK_VS_PART_INFO* part = tsk::vs_part_get(volumes.get(), i);
      if (part == nullptr || (part->flags & TSK_VS_PART_FLAG_ALLOC) == 0) {
        continue;
      }
      ++number;
      fs = fat_at(opened.get(), static_cast<TSK_OFF_T>(part->start) * volumes->block_size);
      if (fs) {
        description = std::string(kind_of(fs->ftype)) + " in partition " + std::to_string(number);
      }
    }
  }
  if (!fs) {
    const int error = image->last_error;
    if (error != 0) {
      return std::string("the disk cannot be read: ") + std::strerror(error);
    }
    return std::string("the disk holds no FAT or exFAT volume");
  }

  Listing listing;
  const auto walk = static_cast<TSK_FS_DIR_WALK_FLAG_ENUM>(
      TSK_FS_DIR_WALK_FLAG_ALLOC | TSK_FS_DIR_WALK_FLAG_RECURSE | TSK_FS_DIR_WALK_FLAG_NOORPHAN);
  // A folder the library could not read is left out of its walk without a word: any read that
  // failed while listing fails the listing, so that no recording goes missing unseen.
  image->failures = 0;
  if (tsk::fs_dir_walk(fs.get(), fs->root_inum, walk, list_file, &listing) != 0 ||
      image->failures != 0) {
    const int error = image->last_error;
    return "the volume's folders cannot be read: " +
           (error != 0 ? std::string(std::strerror(error)) : tsk_problem());
  }
  if (listing.too_many) {
    return "the volume lists more than " + std::to_string(kMostFiles) + " files";
  }
  sort_listing(listing.files);
  settle_paths(listing.files);
  return std::make_unique<Volume>(std::move(blocks), std::move(opened), std::move(volumes),
                                  std::move(fs), std::move(description), std::move(listing.files));
}

}  // namespace kbc::evidence
