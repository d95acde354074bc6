#include "evidence/bag_check.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <system_error>

#include "evidence/bag.h"
#include "evidence/sha256.h"

namespace kbc::evidence {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t kChunkBytes = 1 << 20;

std::optional<std::string> file_sha256(const fs::path& path, std::uint64_t* size = nullptr) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  Sha256 hash;
  std::vector<char> buffer(kChunkBytes);
  std::uint64_t total = 0;
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const auto n = static_cast<std::size_t>(in.gcount());
    hash.update(std::string_view(buffer.data(), n));
    total += n;
  }
  if (in.bad()) {
    return std::nullopt;
  }
  if (size) {
    *size = total;
  }
  return hash.hex();
}

// "HASH  PATH" per line, the path decoded; the lines that do not parse are problems.
std::map<std::string, std::string> read_manifest(const fs::path& path, const std::string& shown,
                                                 std::vector<std::string>& problems) {
  std::map<std::string, std::string> entries;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    problems.push_back(shown + " is missing");
    return entries;
  }
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    const std::size_t space = line.find(' ');
    std::optional<std::string> file;
    if (space == 64) {
      std::size_t start = space;
      while (start < line.size() && line[start] == ' ') {
        ++start;
      }
      file = decoded_manifest_path(std::string_view(line).substr(start));
    }
    if (!file || file->empty()) {
      problems.push_back(shown + ":" + std::to_string(number) + ": not a manifest line");
      continue;
    }
    entries[*file] = line.substr(0, 64);
  }
  return entries;
}

}  // namespace

BagCheck check_bag(const fs::path& bag) {
  BagCheck check;
  std::error_code error;
  if (!fs::is_directory(bag, error) || !fs::is_regular_file(bag / "bagit.txt", error)) {
    check.problems.push_back("not a bag: no bagit.txt");
    return check;
  }
  // The tag files first: a changed manifest would hide a changed file.
  const auto tags =
      read_manifest(bag / "tagmanifest-sha256.txt", "tagmanifest-sha256.txt", check.problems);
  check.tagmanifest_sha256 = file_sha256(bag / "tagmanifest-sha256.txt");
  for (const auto& [file, sha] : tags) {
    const auto now = file_sha256(bag / file);
    if (!now) {
      check.problems.push_back(file + " is missing");
    } else if (*now != sha) {
      check.problems.push_back(file + " has changed");
    }
  }
  if (!tags.count("manifest-sha256.txt")) {
    check.problems.push_back("tagmanifest-sha256.txt does not cover manifest-sha256.txt");
  }

  const auto manifest =
      read_manifest(bag / "manifest-sha256.txt", "manifest-sha256.txt", check.problems);
  std::map<std::string, bool> seen;
  for (const auto& entry : manifest) {
    seen[entry.first] = false;
  }
  const fs::path data = bag / "data";
  for (auto it = fs::recursive_directory_iterator(data, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_directory(error) && !it->is_symlink(error)) {
      continue;
    }
    const std::string file = "data/" + fs::relative(it->path(), data).generic_string();
    const auto found = manifest.find(file);
    if (found == manifest.end() || !it->is_regular_file(error) || it->is_symlink(error)) {
      check.added.push_back(file);
      continue;
    }
    seen[file] = true;
    std::uint64_t size = 0;
    const auto now = file_sha256(it->path(), &size);
    ++check.files;
    check.bytes += size;
    if (!now || *now != found->second) {
      check.changed.push_back(file);
    }
  }
  if (error) {
    check.problems.push_back("data: " + error.message());
  }
  for (const auto& [file, found] : seen) {
    if (!found) {
      check.missing.push_back(file);
    }
  }
  std::uint64_t oxum_bytes = 0;
  std::uint64_t oxum_files = 0;
  if (!read_payload_oxum(bag, oxum_bytes, oxum_files)) {
    check.problems.push_back("bag-info.txt has no Payload-Oxum");
  } else if (oxum_files != manifest.size() ||
             (check.changed.empty() && check.missing.empty() && oxum_bytes != check.bytes)) {
    check.problems.push_back("Payload-Oxum " + std::to_string(oxum_bytes) + "." +
                             std::to_string(oxum_files) + " does not match the payload");
  }
  std::ranges::sort(check.added);
  return check;
}

}  // namespace kbc::evidence
