// The volume reader on a recorder's disk as anyone may have written it: a real FAT32 image (made
// with mkfs.vfat and mcopy at start) or Debian's exFAT sample, with the fuzzer's bytes written
// over its boot sector, tables and folders. Whatever the disk says, the reader lists plain
// relative paths and hands on each file's bytes up to its size, or refuses with a reason.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "evidence/recorder_files.h"
#include "fuzz_check.h"

namespace {

using kbc::evidence::Blocks;

// What the fuzzer may overwrite: the start of the disk, where the boot sector, the tables and
// the first folders lie.
constexpr std::size_t kReach = 4 << 20;

class MemoryBlocks final : public Blocks {
 public:
  explicit MemoryBlocks(std::span<const std::byte> disk) : disk_(disk) {}
  std::uint64_t size() const override { return disk_.size(); }
  std::int64_t read_at(std::uint64_t offset, std::span<std::byte> bytes) override {
    if (offset >= disk_.size()) {
      return 0;
    }
    const std::size_t n = std::min<std::size_t>(bytes.size(), disk_.size() - offset);
    std::memcpy(bytes.data(), disk_.data() + offset, n);
    return static_cast<std::int64_t>(n);
  }

 private:
  std::span<const std::byte> disk_;
};

std::vector<std::byte> read_image(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const auto* first = reinterpret_cast<const std::byte*>(bytes.data());
  return {first, first + bytes.size()};
}

// The two disks, made once.
std::vector<std::byte>& disk(int which) {
  static std::array<std::vector<std::byte>, 2> disks = [] {
    const std::string folder = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
    const std::string fat = folder + "/kbc-fuzz-fat32.img";
    const std::string exfat = folder + "/kbc-fuzz.exfat";
    const std::string make = "rm -f " + fat + " && mkfs.vfat -C -F 32 -n REC " + fat +
                             " 34000 >/dev/null && " + "head -c 70000 /dev/zero > " + fat +
                             ".mp4 && mmd -i " + fat + " ::/DCIM && " + "LC_ALL=C.UTF-8 mcopy -i " +
                             fat + " " + fat + ".mp4 '::/DCIM/执法 录像.MP4' && " +
                             "xz -dc /usr/share/forensics-samples/fs.exfat.xz > " + exfat;
    if (std::system(make.c_str()) != 0) {
      std::fprintf(stderr,
                   "volume_fuzz: cannot make the disks (dosfstools, mtools, "
                   "forensics-samples-exfat)\n");
      std::abort();
    }
    return std::array<std::vector<std::byte>, 2>{read_image(fat), read_image(exfat)};
  }();
  return disks[which];
}

}  // namespace

// Input: a byte choosing the disk, then patches: a 3-byte offset into the first 4 MiB, a length
// byte, that many bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  std::vector<std::byte>& image = disk(data[0] & 1);
  struct Saved {
    std::size_t at;
    std::vector<std::byte> bytes;
  };
  std::vector<Saved> saved;
  for (std::size_t i = 1; i + 4 <= size;) {
    const std::size_t at =
        ((std::size_t{data[i]} << 16) | (std::size_t{data[i + 1]} << 8) | data[i + 2]) % kReach;
    const std::size_t length = std::min<std::size_t>(data[i + 3], size - i - 4);
    i += 4;
    const std::size_t n = std::min(length, image.size() - std::min(at, image.size()));
    // An empty patch is skipped: memcpy takes no null pointer, even for no bytes.
    if (n > 0) {
      saved.push_back({at,
                       {image.begin() + static_cast<std::ptrdiff_t>(at),
                        image.begin() + static_cast<std::ptrdiff_t>(at + n)}});
      std::memcpy(image.data() + at, data + i, n);
    }
    i += length;
  }

  auto opened = kbc::evidence::read_volume(std::make_unique<MemoryBlocks>(image));
  if (auto* volume = std::get_if<std::unique_ptr<kbc::evidence::RecorderFiles>>(&opened)) {
    const auto& files = (*volume)->files();
    for (std::size_t f = 0; f < files.size() && f < 64; ++f) {
      const std::string& path = files[f].path;
      kbc::fuzz::check(!path.empty() && path.front() != '/' && path.back() != '/');
      std::size_t start = 0;
      while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string part = path.substr(start, end - start);
        kbc::fuzz::check(!part.empty() && part != "." && part != ".." && part.size() <= 255);
        start = end + 1;
      }
      // At most a few MiB of each, so that a file claiming gigabytes is not read whole.
      std::uint64_t handed = 0;
      const auto failure = (*volume)->read(f, [&](std::span<const std::byte> chunk) {
        handed += chunk.size();
        return handed < (8u << 20);
      });
      kbc::fuzz::check(failure.has_value() || handed <= files[f].size);
      kbc::fuzz::check(failure.has_value() || handed == files[f].size || handed >= (8u << 20));
    }
  } else {
    kbc::fuzz::check(!std::get<std::string>(opened).empty());
  }
  for (auto it = saved.rbegin(); it != saved.rend(); ++it) {
    std::memcpy(image.data() + it->at, it->bytes.data(), it->bytes.size());
  }
  return 0;
}
