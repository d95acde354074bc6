// The disk a simulated recorder shows once switched to mass storage: a small FAT32 volume of
// sample recordings, photos and a sound file in nested folders with Chinese long names, as the
// recorder files them. It is written the same for the same serial number, so that an offload cut
// short resumes on it; an erased recorder's disk holds only its empty folders.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kbc::sim {

struct SampleFile {
  std::string path;  // "/"-separated, UTF-8
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // seconds since the epoch, station time
};

// What the disk of the recorder `serial` holds; nothing once it was erased.
std::vector<SampleFile> sample_files(std::string_view serial, bool erased);

// The FAT volume ID of that recorder's disk.
std::uint32_t sample_volume_id(std::string_view serial);

// Writes the disk as a sparse image at `image`, through a file beside it renamed into place, so
// that two programs simulating the same recorder never read half of one; nullopt, or why not.
std::optional<std::string> write_sample_disk(const std::filesystem::path& image,
                                             std::string_view serial, bool erased);

// The bytes of a sample file: a recording's container header, then bytes of its own.
std::string sample_bytes(const SampleFile& file, std::string_view serial);

}  // namespace kbc::sim
