#include "evidence/progress.h"

#include <fstream>
#include <sstream>

#include "evidence/manifest.h"

namespace kbc::evidence {
namespace {

std::string identity_fields(const FileIdentity& id) {
  return std::to_string(id.address) + " " + std::to_string(id.first_block) + " " +
         std::to_string(id.size) + " " + std::to_string(id.modified) + " " +
         std::to_string(id.created) + " " + std::to_string(id.created_nano);
}

}  // namespace

Progress read_progress(const std::filesystem::path& file) {
  Progress progress;
  std::ifstream in(file, std::ios::binary);
  std::string line;
  if (!std::getline(in, line) || line != "kbc-progress 2") {
    return progress;
  }
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string kind;
    words >> kind;
    if (kind == "volume") {
      std::string encoded;
      std::getline(words >> std::ws, encoded);
      if (const auto volume = decoded_manifest_path(encoded); volume && !encoded.empty()) {
        progress.volume = encoded == "-" ? std::string() : *volume;
      }
      continue;
    }
    ProgressEntry entry;
    entry.whole = kind == "held";
    if ((!entry.whole && kind != "begin") || (entry.whole && !(words >> entry.sha256)) ||
        (entry.whole && !is_sha256_hex(entry.sha256))) {
      continue;
    }
    FileIdentity& id = entry.identity;
    if (!(words >> id.address >> id.first_block >> id.size >> id.modified >> id.created >>
          id.created_nano) ||
        words.get() != ' ') {
      continue;
    }
    std::string encoded;
    std::getline(words, encoded);
    if (auto path = decoded_manifest_path(encoded); path && !path->empty()) {
      progress.files[*path] = std::move(entry);
    }
  }
  return progress;
}

std::string progress_start(std::string_view volume) {
  return "kbc-progress 2\nvolume " + (volume.empty() ? std::string("-") : manifest_path(volume)) +
         "\n";
}

std::string begun_line(const RecordedFile& file) {
  return "begin " + identity_fields(identity_of(file)) + " " + manifest_path(file.path) + "\n";
}

std::string held_line(std::string_view path, const FileIdentity& identity,
                      std::string_view sha256) {
  return "held " + std::string(sha256) + " " + identity_fields(identity) + " " +
         manifest_path(path) + "\n";
}

}  // namespace kbc::evidence
