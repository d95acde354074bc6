#include "evidence/recorder_files.h"

#include <sys/stat.h>

#include <algorithm>
#include <set>

#include "evidence/sha256.h"

namespace kbc::evidence {
namespace {

constexpr std::size_t kMostPartBytes = 255;  // NAME_MAX of the store's file systems

// The longest start of `text` that ends on a whole UTF-8 character and fits in `most` bytes.
std::string utf8_prefix(const std::string& text, std::size_t most) {
  std::size_t end = std::min(most, text.size());
  while (end > 0 && end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
    --end;
  }
  return text.substr(0, end);
}

std::string settled_part(std::string part) {
  for (char& c : part) {
    if (c == '\0' || c == '/') {
      c = '_';
    }
  }
  if (part.empty() || part == "." || part == "..") {
    part = "_" + part;
  }
  if (part.size() > kMostPartBytes) {
    // Too long for the store: a start of it and a tag of the whole keep it unique.
    const std::string tag = "~" + sha256_hex(part).substr(0, 16);
    part = utf8_prefix(part, kMostPartBytes - tag.size()) + tag;
  }
  return part;
}

std::string settled(const std::string& path) {
  std::string out;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    if (end > start || path.empty()) {
      out += out.empty() ? "" : "/";
      out += settled_part(path.substr(start, end - start));
    }
    start = end + 1;
  }
  return out.empty() ? settled_part("") : out;
}

}  // namespace

FileIdentity identity_of(const RecordedFile& file) {
  return {file.address,  file.first_block, file.size,
          file.modified, file.created,     file.created_nano};
}

void sort_listing(std::vector<RecordedFile>& files) {
  std::ranges::stable_sort(files, [](const RecordedFile& a, const RecordedFile& b) {
    return a.path != b.path ? a.path < b.path : a.address < b.address;
  });
}

void settle_paths(std::vector<RecordedFile>& files) {
  std::set<std::string> taken;
  // A folder of the bag may not also be a file of it.
  std::set<std::string> folders;
  for (RecordedFile& file : files) {
    const std::string original = file.path;
    std::string path = settled(original);
    // A folder on the way that is a file of the bag already becomes a folder of its own.
    for (std::size_t slash = path.find('/'); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
      if (taken.count(path.substr(0, slash))) {
        path.insert(slash, "~d");
        slash += 2;
      }
    }
    std::string unique = path;
    for (int n = 2; taken.count(unique) || folders.count(unique); ++n) {
      unique = path + "~" + std::to_string(n);
    }
    taken.insert(unique);
    for (std::size_t slash = unique.find('/'); slash != std::string::npos;
         slash = unique.find('/', slash + 1)) {
      folders.insert(unique.substr(0, slash));
    }
    file.path = unique;
    file.recorder_path = unique == original ? std::string() : original;
  }
}

Opened open_recorder_files(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
    return read_folder(path);
  }
  auto blocks = FileBlocks::open(path);
  if (auto* problem = std::get_if<std::string>(&blocks)) {
    return std::move(*problem);
  }
  return read_volume(std::move(std::get<0>(blocks)));
}

}  // namespace kbc::evidence
