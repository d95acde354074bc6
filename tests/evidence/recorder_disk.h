// Recorders' disks for the tests: real FAT32 images made with mkfs.vfat and mcopy (dosfstools,
// mtools), whole or in an MBR partition, the exFAT image of Debian's forensics-samples-exfat, and
// blocks that fail as a disk does.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "evidence/blocks.h"

namespace kbc::evidence::testing {

struct DiskFile {
  std::string path;  // on the recorder, "/"-separated
  std::string bytes;
};

// `size` bytes that no other call with another seed gives.
std::string pattern(std::size_t size, std::uint32_t seed);

// A folder of the test's own, removed with everything in it.
class Scratch {
 public:
  Scratch();
  ~Scratch();
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Removes the folder and all in it, read-only bags included.
void remove_tree(const std::filesystem::path& path);

// A FAT32 image of `megabytes` holding the files, at `image`; with `partitioned`, the volume lies
// in the first partition of an MBR partition table. Fails the test on any problem.
void make_fat32(const std::filesystem::path& image, const std::vector<DiskFile>& files,
                int megabytes = 40, bool partitioned = false);

// The recorder's disk changed as a recorder changes it after an offload was cut short: a file
// erased, or one written anew in a file's place with the same name, size and modification time.
void delete_file(const std::filesystem::path& image, const std::string& path);
void replace_file(const std::filesystem::path& image, const std::string& path,
                  const std::string& bytes, std::int64_t modified);

// The exFAT sample image (an MBR partition holding exFAT), unpacked at `image`; false where the
// package is not installed.
bool unpack_exfat_sample(const std::filesystem::path& image);

// The blocks of an image file, which count what was read and fail as told.
class TestBlocks final : public Blocks {
 public:
  explicit TestBlocks(const std::filesystem::path& image);

  std::uint64_t size() const override { return inner_->size(); }
  std::int64_t read_at(std::uint64_t offset, std::span<std::byte> bytes) override;

  // Reads touching [from, to) fail with EIO.
  std::optional<std::pair<std::uint64_t, std::uint64_t>> bad_range;
  // Once this many bytes were read, every read fails with ENODEV: the disk was pulled out.
  std::optional<std::uint64_t> gone_after;
  std::uint64_t bytes_read = 0;

 private:
  std::unique_ptr<Blocks> inner_;
};

// Where `bytes` first stand in the image.
std::uint64_t offset_of(const std::filesystem::path& image, const std::string& bytes);

}  // namespace kbc::evidence::testing
