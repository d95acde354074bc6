#include "evidence/bag_check.h"

#include <algorithm>
#include <map>
#include <system_error>

#include "evidence/bag_info.h"
#include "evidence/file_io.h"
#include "evidence/manifest.h"

namespace kbc::evidence {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t kChunkBytes = 1 << 20;

// The manifest's lines by path; what is wrong with it goes to `problems`.
std::map<std::string, std::string> entries_of(const fs::path& file, const std::string& shown,
                                              std::vector<std::string>& problems) {
  std::map<std::string, std::string> entries;
  const std::optional<Manifest> manifest = read_manifest(file);
  if (!manifest) {
    problems.push_back(shown + " is missing");
    return entries;
  }
  for (const std::size_t number : manifest->bad_lines) {
    problems.push_back(shown + ":" + std::to_string(number) + ": not a manifest line");
  }
  for (const ManifestLine& line : manifest->lines) {
    if (!inside_bag(line.path)) {
      problems.push_back(shown + ": " + line.path + " lies outside the bag");
    } else if (!entries.emplace(line.path, line.sha256).second) {
      problems.push_back(shown + ": " + line.path + " is listed twice");
    }
  }
  return entries;
}

}  // namespace

std::optional<std::string> tagmanifest_sha256(const fs::path& bag) {
  StoreIo plain;
  std::vector<std::byte> buffer(64 << 10);
  const Hashed hashed = hash_file(bag / "tagmanifest-sha256.txt", plain, buffer);
  return hashed.error == 0 ? std::optional(hashed.sha256) : std::nullopt;
}

BagCheck check_bag(const fs::path& bag) {
  BagCheck check;
  std::error_code error;
  if (!fs::is_directory(bag, error) ||
      !fs::is_regular_file(fs::symlink_status(bag / "bagit.txt", error))) {
    check.problems.push_back("not a bag: no bagit.txt");
    return check;
  }
  StoreIo plain;
  std::vector<std::byte> buffer(kChunkBytes);
  // The tag files first: a changed manifest would hide a changed file.
  const auto tags =
      entries_of(bag / "tagmanifest-sha256.txt", "tagmanifest-sha256.txt", check.problems);
  check.tagmanifest_sha256 = tagmanifest_sha256(bag);
  for (const auto& [file, sha] : tags) {
    const Hashed now = hash_file(bag / file, plain, buffer);
    if (now.error != 0) {
      check.problems.push_back(file + " is missing");
    } else if (now.sha256 != sha) {
      check.problems.push_back(file + " has changed");
    }
  }
  if (!tags.count("manifest-sha256.txt")) {
    check.problems.push_back("tagmanifest-sha256.txt does not cover manifest-sha256.txt");
  }

  const auto manifest =
      entries_of(bag / "manifest-sha256.txt", "manifest-sha256.txt", check.problems);
  const PayloadTree tree = walk_payload(bag / "data");
  if (tree.error) {
    check.problems.push_back("data: " + *tree.error);
  }
  for (const std::string& odd : tree.odd) {
    check.added.push_back("data/" + odd);
  }
  for (const auto& [path, where] : tree.files) {
    const std::string file = "data/" + path;
    const auto found = manifest.find(file);
    if (found == manifest.end()) {
      check.added.push_back(file);
      continue;
    }
    const Hashed now = hash_file(where, plain, buffer);
    ++check.files;
    check.bytes += now.bytes;
    if (now.error != 0 || now.sha256 != found->second) {
      check.changed.push_back(file);
    }
  }
  for (const auto& [file, sha] : manifest) {
    if (!file.starts_with("data/") || !tree.files.count(file.substr(5))) {
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
