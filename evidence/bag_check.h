// Checking a stored bag as anyone could without this tool: every payload file hashed again and
// held against manifest-sha256.txt, the tag files against tagmanifest-sha256.txt, and the payload's
// size and count against Payload-Oxum. What the journal entered when the bag was verified is held
// against it by the caller (tagmanifest_sha256).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kbc::evidence {

struct BagCheck {
  std::vector<std::string> missing;   // in the manifest, not in the bag
  std::vector<std::string> changed;   // in both, with other bytes
  std::vector<std::string> added;     // in the bag, not in the manifest
  std::vector<std::string> problems;  // of the bag as a whole: tag files, Payload-Oxum, no bag
  std::uint64_t files = 0;            // payload files hashed
  std::uint64_t bytes = 0;
  // The SHA-256 of tagmanifest-sha256.txt as it is now, which the journal's entry names.
  std::optional<std::string> tagmanifest_sha256;

  bool intact() const {
    return missing.empty() && changed.empty() && added.empty() && problems.empty();
  }
};

BagCheck check_bag(const std::filesystem::path& bag);

// The SHA-256 of the bag's tagmanifest-sha256.txt as its disk holds it, which names every file of
// the bag by its hash: what the journal enters of a bag, and what an erase and a removal name;
// nullopt when it cannot be read.
std::optional<std::string> tagmanifest_sha256(const std::filesystem::path& bag);

}  // namespace kbc::evidence
