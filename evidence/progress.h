// The record a bag being written keeps of its files, ".kbc-progress" in its folder: the volume it
// is read from, a line when a file is begun and one once it is stored whole, each with what tells
// the recorder's file from any other. An offload cut short is resumed from it, keeping only the
// files it shows stored whole from the same file of the same volume.
//
//   kbc-progress 2
//   volume 1A2B-3C4D
//   begin ADDRESS FIRST-BLOCK SIZE MODIFIED CREATED CREATED-NANO PATH
//   held SHA256 ADDRESS FIRST-BLOCK SIZE MODIFIED CREATED CREATED-NANO PATH
//
// The path is last and percent-encoded as in a manifest. A line cut short by a crash does not
// parse and is left out; a file stored whole is only ever recorded once it is on the disk.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "evidence/recorder_files.h"

namespace kbc::evidence {

inline constexpr std::string_view kProgressFile = ".kbc-progress";

struct ProgressEntry {
  bool whole = false;  // held: stored whole, with this SHA-256; else only begun
  std::string sha256;
  FileIdentity identity;
};

struct Progress {
  // The volume the bag was read from; nullopt when the record does not say (an earlier version's,
  // or none at all), so that nothing of it can be kept.
  std::optional<std::string> volume;
  std::map<std::string, ProgressEntry> files;  // by path under data/; the last line of each
};

Progress read_progress(const std::filesystem::path& file);

// The first lines of a new record.
std::string progress_start(std::string_view volume);
std::string begun_line(const RecordedFile& file);
std::string held_line(std::string_view path, const FileIdentity& identity, std::string_view sha256);

}  // namespace kbc::evidence
