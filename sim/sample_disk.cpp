#include "sim/sample_disk.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <set>

namespace kbc::sim {
namespace {

namespace fs = std::filesystem;

// 64 MiB in sectors of 512 bytes, a cluster each: the smallest layout that is FAT32 by its
// cluster count (at least 65,525), as mkfs.fat makes it for a disk of this size.
constexpr std::uint32_t kSector = 512;
constexpr std::uint32_t kSectors = 131072;
constexpr std::uint32_t kReserved = 32;
constexpr std::uint32_t kEntry = 32;
constexpr std::uint32_t kEndOfChain = 0x0FFFFFFF;

std::uint32_t fnv1a(std::string_view text, std::uint32_t hash = 2166136261u) {
  for (const char c : text) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  }
  return hash;
}

void put16(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void put32(std::uint8_t* at, std::uint32_t value) {
  put16(at, value & 0xffff);
  put16(at + 2, value >> 16);
}

// UTF-8 to UTF-16 code units; the sample names are all of the basic plane.
std::u16string utf16(std::string_view text) {
  std::u16string units;
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const int length = c < 0x80 ? 1 : c < 0xE0 ? 2 : 3;
    std::uint32_t point = length == 1 ? c : length == 2 ? c & 0x1F : c & 0x0F;
    for (int k = 1; k < length && i + static_cast<std::size_t>(k) < text.size(); ++k) {
      point =
          (point << 6) | (static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]) & 0x3F);
    }
    units.push_back(static_cast<char16_t>(point));
    i += static_cast<std::size_t>(length);
  }
  return units;
}

std::time_t at(int year, int month, int day, int hour, int minute, int second) {
  std::tm civil{};
  civil.tm_year = year - 1900;
  civil.tm_mon = month - 1;
  civil.tm_mday = day;
  civil.tm_hour = hour;
  civil.tm_min = minute;
  civil.tm_sec = second;
  return ::timegm(&civil);
}

// FAT's date and time fields of a station time, in UTC so that the image is the same anywhere.
std::pair<std::uint16_t, std::uint16_t> fat_time(std::int64_t when) {
  const std::time_t t = static_cast<std::time_t>(when);
  std::tm civil{};
  ::gmtime_r(&t, &civil);
  const auto date = static_cast<std::uint16_t>(((civil.tm_year - 80) << 9) |
                                               ((civil.tm_mon + 1) << 5) | civil.tm_mday);
  const auto time =
      static_cast<std::uint16_t>((civil.tm_hour << 11) | (civil.tm_min << 5) | (civil.tm_sec / 2));
  return {date, time};
}

struct Node {
  std::string name;
  const SampleFile* file = nullptr;  // nullptr: a folder
  std::vector<std::unique_ptr<Node>> children;
  std::int64_t modified = 0;
  std::uint32_t first = 0;  // its first cluster; 0 for an empty file
  std::uint32_t clusters = 0;
};

Node& child_folder(Node& parent, const std::string& name, std::int64_t modified) {
  for (auto& child : parent.children) {
    if (child->file == nullptr && child->name == name) {
      return *child;
    }
  }
  parent.children.push_back(std::make_unique<Node>(Node{name, nullptr, {}, modified}));
  return *parent.children.back();
}

bool fits_short(std::string_view name) {
  const std::size_t dot = name.find('.');
  const std::string_view base = name.substr(0, dot);
  const std::string_view ext = dot == std::string_view::npos ? "" : name.substr(dot + 1);
  const auto plain = [](std::string_view part) {
    return std::ranges::all_of(part, [](char c) {
      return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    });
  };
  return !base.empty() && base.size() <= 8 && ext.size() <= 3 &&
         ext.find('.') == std::string_view::npos && plain(base) && plain(ext);
}

std::string short_part(std::string_view part, std::size_t most) {
  std::string out;
  for (const char c : part) {
    if (out.size() == most) {
      break;
    }
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
      out.push_back(static_cast<char>(c >= 'a' ? c - 'a' + 'A' : c));
    }
  }
  return out;
}

// The 11 bytes of a name's short entry, unique among `taken`, and whether it needs long entries.
std::pair<std::array<std::uint8_t, 11>, bool> short_name(const std::string& name,
                                                         std::set<std::string>& taken) {
  std::array<std::uint8_t, 11> bytes;
  bytes.fill(' ');
  const std::size_t dot = name.rfind('.');
  std::string base = name.substr(0, dot);
  std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
  const bool plain = fits_short(name);
  if (!plain) {
    base = short_part(base, 6);
    if (base.empty()) {
      base = "KBC";
    }
    ext = short_part(ext, 3);
    for (int tail = 1;; ++tail) {
      const std::string numbered = base + "~" + std::to_string(tail);
      if (!taken.contains(numbered + "." + ext)) {
        base = numbered;
        break;
      }
    }
  }
  taken.insert(base + "." + ext);
  std::copy(base.begin(), base.end(), bytes.begin());
  std::copy(ext.begin(), ext.end(), bytes.begin() + 8);
  return {bytes, !plain};
}

std::uint8_t checksum(const std::array<std::uint8_t, 11>& name) {
  std::uint8_t sum = 0;
  for (const std::uint8_t byte : name) {
    sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + byte);
  }
  return sum;
}

std::size_t long_entries(const std::string& name) {
  return (utf16(name).size() + 12) / 13;
}

std::size_t entries_of(const Node& folder, bool root) {
  std::size_t entries = root ? 1 : 2;  // the volume label, or "." and ".."
  for (const auto& child : folder.children) {
    entries += 1 + (fits_short(child->name) ? 0 : long_entries(child->name));
  }
  return entries;
}

class Image {
 public:
  Image() {
    // The FAT's size follows from the clusters it maps, which follow from it.
    fat_sectors_ = 1;
    for (;;) {
      const std::uint32_t clusters = kSectors - kReserved - 2 * fat_sectors_;
      const std::uint32_t needed = ((clusters + 2) * 4 + kSector - 1) / kSector;
      if (needed <= fat_sectors_) {
        break;
      }
      fat_sectors_ = needed;
    }
    fat_.assign(static_cast<std::size_t>(fat_sectors_) * kSector / 4, 0);
    fat_[0] = 0x0FFFFFF8;
    fat_[1] = kEndOfChain;
  }

  std::uint32_t allocate(std::uint32_t count) {
    const std::uint32_t first = next_;
    for (std::uint32_t i = 0; i < count; ++i) {
      fat_[first + i] = i + 1 == count ? kEndOfChain : first + i + 1;
    }
    next_ += count;
    return first;
  }

  std::uint64_t offset_of(std::uint32_t cluster) const {
    return (static_cast<std::uint64_t>(kReserved) + 2 * fat_sectors_ + (cluster - 2)) * kSector;
  }

  std::uint32_t fat_sectors() const { return fat_sectors_; }
  std::uint32_t used() const { return next_ - 2; }
  const std::vector<std::uint32_t>& fat() const { return fat_; }

 private:
  std::uint32_t fat_sectors_ = 0;
  std::vector<std::uint32_t> fat_;
  std::uint32_t next_ = 2;
};

void allocate(Node& node, Image& image, bool root) {
  if (node.file != nullptr) {
    node.clusters = static_cast<std::uint32_t>((node.file->size + kSector - 1) / kSector);
  } else {
    node.clusters =
        static_cast<std::uint32_t>((entries_of(node, root) * kEntry + kSector - 1) / kSector);
  }
  node.first = node.clusters > 0 ? image.allocate(node.clusters) : 0;
  for (auto& child : node.children) {
    allocate(*child, image, false);
  }
}

void short_entry(std::uint8_t* entry, const std::array<std::uint8_t, 11>& name,
                 std::uint8_t attributes, std::uint32_t cluster, std::uint32_t size,
                 std::int64_t modified) {
  std::copy(name.begin(), name.end(), entry);
  entry[11] = attributes;
  const auto [date, time] = fat_time(modified);
  put16(entry + 14, time);
  put16(entry + 16, date);
  put16(entry + 18, date);
  put16(entry + 20, cluster >> 16);
  put16(entry + 22, time);
  put16(entry + 24, date);
  put16(entry + 26, cluster & 0xffff);
  put32(entry + 28, size);
}

// The folder's entries, as many clusters as it was given.
std::string folder_bytes(const Node& folder, std::uint32_t parent, bool root) {
  std::string bytes(static_cast<std::size_t>(folder.clusters) * kSector, '\0');
  auto* entry = reinterpret_cast<std::uint8_t*>(bytes.data());
  if (root) {
    std::array<std::uint8_t, 11> label;
    std::memcpy(label.data(), "RECORDER   ", 11);
    short_entry(entry, label, 0x08, 0, 0, folder.modified);
    entry += kEntry;
  } else {
    std::array<std::uint8_t, 11> dots;
    dots.fill(' ');
    dots[0] = '.';
    short_entry(entry, dots, 0x10, folder.first, 0, folder.modified);
    dots[1] = '.';
    short_entry(entry + kEntry, dots, 0x10, parent, 0, folder.modified);
    entry += 2 * kEntry;
  }
  std::set<std::string> taken;
  for (const auto& child : folder.children) {
    const auto [name, long_name] = short_name(child->name, taken);
    if (long_name) {
      const std::u16string units = utf16(child->name);
      const std::size_t count = long_entries(child->name);
      for (std::size_t k = count; k >= 1; --k) {
        entry[0] = static_cast<std::uint8_t>(k | (k == count ? 0x40 : 0));
        entry[11] = 0x0F;
        entry[13] = checksum(name);
        static constexpr int kPlaces[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
        for (std::size_t j = 0; j < 13; ++j) {
          const std::size_t i = (k - 1) * 13 + j;
          const std::uint32_t unit = i < units.size() ? units[i] : i == units.size() ? 0 : 0xFFFF;
          put16(entry + kPlaces[j], unit);
        }
        entry += kEntry;
      }
    }
    const bool file = child->file != nullptr;
    short_entry(entry, name, file ? 0x20 : 0x10, child->first,
                file ? static_cast<std::uint32_t>(child->file->size) : 0, child->modified);
    entry += kEntry;
  }
  return bytes;
}

class Output {
 public:
  explicit Output(int fd) : fd_(fd) {}
  void write(std::uint64_t offset, std::string_view bytes) {
    if (!error_ && ::pwrite(fd_, bytes.data(), bytes.size(), static_cast<off_t>(offset)) !=
                       static_cast<ssize_t>(bytes.size())) {
      error_ = errno != 0 ? errno : EIO;
    }
  }
  int error() const { return error_; }

 private:
  int fd_;
  int error_ = 0;
};

void write_tree(const Node& node, std::uint32_t parent, bool root, const Image& image,
                std::string_view serial, Output& out) {
  if (node.file != nullptr) {
    if (node.clusters > 0) {
      out.write(image.offset_of(node.first), sample_bytes(*node.file, serial));
    }
    return;
  }
  out.write(image.offset_of(node.first), folder_bytes(node, parent, root));
  // A folder in the root names it as cluster 0 in its "..".
  for (const auto& child : node.children) {
    write_tree(*child, root ? 0 : node.first, false, image, serial, out);
  }
}

std::string boot_sector(const Image& image, std::uint32_t volume_id) {
  std::string sector(kSector, '\0');
  auto* b = reinterpret_cast<std::uint8_t*>(sector.data());
  b[0] = 0xEB;
  b[1] = 0x58;
  b[2] = 0x90;
  std::memcpy(b + 3, "mkfs.fat", 8);
  put16(b + 11, kSector);
  b[13] = 1;
  put16(b + 14, kReserved);
  b[16] = 2;
  b[21] = 0xF8;
  put16(b + 24, 32);
  put16(b + 26, 64);
  put32(b + 32, kSectors);
  put32(b + 36, image.fat_sectors());
  put32(b + 44, 2);
  put16(b + 48, 1);
  put16(b + 50, 6);
  b[64] = 0x80;
  b[66] = 0x29;
  put32(b + 67, volume_id);
  std::memcpy(b + 71, "RECORDER   ", 11);
  std::memcpy(b + 82, "FAT32   ", 8);
  b[510] = 0x55;
  b[511] = 0xAA;
  return sector;
}

std::string info_sector(const Image& image) {
  std::string sector(kSector, '\0');
  auto* b = reinterpret_cast<std::uint8_t*>(sector.data());
  put32(b, 0x41615252);
  put32(b + 484, 0x61417272);
  const std::uint32_t clusters = kSectors - kReserved - 2 * image.fat_sectors();
  put32(b + 488, clusters - image.used());
  put32(b + 492, image.used() + 2);
  put32(b + 508, 0xAA550000);
  return sector;
}

}  // namespace

std::vector<SampleFile> sample_files(std::string_view serial, bool erased) {
  if (erased) {
    return {};
  }
  const std::string s(serial);
  return {
      {"录像/20261208/" + s + "_20261208_080512_0001.MP4", 1'500'000, at(2026, 12, 8, 8, 20, 12)},
      {"录像/20261208/" + s + "_20261208_093015_0002.MP4", 1'200'123, at(2026, 12, 8, 9, 45, 15)},
      {"录像/20261209/" + s + "_20261209_071500_0003.MP4", 900'321, at(2026, 12, 9, 7, 30, 0)},
      {"照片/20261208/" + s + "_20261208_081100.JPG", 180'224, at(2026, 12, 8, 8, 11, 0)},
      {"照片/20261208/" + s + "_20261208_094502.JPG", 210'560, at(2026, 12, 8, 9, 45, 2)},
      {"录音/20261208/现场录音 " + s + " 0001.WAV", 320'044, at(2026, 12, 8, 8, 30, 40)},
      {"日志/设备日志.TXT", 2'048, at(2026, 12, 9, 7, 31, 0)},
  };
}

std::uint32_t sample_volume_id(std::string_view serial) {
  return fnv1a(serial, fnv1a("kbc-q7 sample disk"));
}

std::string sample_bytes(const SampleFile& file, std::string_view serial) {
  std::string bytes(file.size, '\0');
  std::uint32_t state = fnv1a(file.path, fnv1a(serial)) | 1;
  for (char& c : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    c = static_cast<char>(state);
  }
  const std::string_view extension = std::string_view(file.path).substr(file.path.rfind('.') + 1);
  std::string_view header;
  if (extension == "MP4") {
    header = std::string_view(
        "\0\0\0\x18"
        "ftypisom\0\0\x02\0isomiso2",
        24);
  } else if (extension == "JPG") {
    header = std::string_view("\xFF\xD8\xFF\xE0\0\x10JFIF\0", 11);
  } else if (extension == "WAV") {
    header = "RIFF";
  } else {
    const std::string line = "KBC-Q7 " + std::string(serial) + " 设备日志\n";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      bytes[i] = line[i % line.size()];
    }
  }
  std::copy_n(header.begin(), std::min(header.size(), bytes.size()), bytes.begin());
  return bytes;
}

std::optional<std::string> write_sample_disk(const fs::path& image, std::string_view serial,
                                             bool erased) {
  const std::vector<SampleFile> files = sample_files(serial, erased);
  const std::int64_t made = at(2026, 12, 1, 8, 0, 0);
  Node root{"", nullptr, {}, made};
  // An erased recorder keeps its folders.
  for (const SampleFile& file : sample_files(serial, false)) {
    Node* folder = &root;
    std::size_t from = 0;
    for (std::size_t slash = file.path.find('/'); slash != std::string::npos;
         slash = file.path.find('/', from)) {
      folder = &child_folder(*folder, file.path.substr(from, slash - from), made);
      from = slash + 1;
    }
    if (const auto kept = std::ranges::find(files, file.path, &SampleFile::path);
        kept != files.end()) {
      folder->children.push_back(
          std::make_unique<Node>(Node{file.path.substr(from), &*kept, {}, file.modified}));
    }
  }
  Image layout;
  allocate(root, layout, true);

  std::error_code error;
  fs::create_directories(image.parent_path(), error);
  std::string temporary = image.string() + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) {
    return std::string(std::strerror(errno));
  }
  Output out(fd);
  if (::ftruncate(fd, static_cast<off_t>(kSectors) * kSector) != 0) {
    ::close(fd);
    ::unlink(temporary.c_str());
    return std::string(std::strerror(errno));
  }
  const std::string boot = boot_sector(layout, sample_volume_id(serial));
  const std::string info = info_sector(layout);
  for (const std::uint32_t copy : {0u, 6u}) {
    out.write(copy * kSector, boot);
    out.write((copy + 1) * kSector, info);
  }
  const auto& fat = layout.fat();
  std::string fat_bytes(fat.size() * 4, '\0');
  for (std::size_t i = 0; i < fat.size(); ++i) {
    put32(reinterpret_cast<std::uint8_t*>(fat_bytes.data()) + i * 4, fat[i]);
  }
  for (std::uint32_t copy = 0; copy < 2; ++copy) {
    out.write((kReserved + copy * layout.fat_sectors()) * std::uint64_t{kSector}, fat_bytes);
  }
  write_tree(root, 0, true, layout, serial, out);
  const int written = out.error();
  if (::close(fd) != 0 || written != 0) {
    ::unlink(temporary.c_str());
    return std::string(std::strerror(written != 0 ? written : errno));
  }
  if (::rename(temporary.c_str(), image.c_str()) != 0) {
    const int renamed = errno;
    ::unlink(temporary.c_str());
    return std::string(std::strerror(renamed));
  }
  return std::nullopt;
}

}  // namespace kbc::sim
