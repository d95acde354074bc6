// What earlier offloads of a recorder that were cut short left in the store, and what becomes of
// each of their files:
//   kept        the same file of the same volume (progress.h), stored whole: not read again;
//   set aside   a file the recorder no longer holds, holds no longer as it was, or one of another
//               volume: into a verified bag of its own, never lost;
//   let go      a copy begun (or damaged) of a file the recorder still holds as it was, which this
//               offload copies again.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "evidence/bag_problem.h"
#include "evidence/file_io.h"
#include "evidence/finish.h"
#include "evidence/recorder_files.h"

namespace kbc::evidence {

struct KeptFile {
  std::size_t index;  // in the recorder's listing
  std::filesystem::path from;
  PayloadFile file;  // as read back now
};

struct SetAsideFile {
  std::filesystem::path from;
  std::string path;  // in the set-aside bag: "<earlier bag's name>/<its path>"
  std::uint64_t size = 0;
  std::string sha256;  // as read now
  bool whole = false;  // stored whole from the recorder, and reads back so
  std::string reason;  // "not-on-recorder", "replaced-on-recorder", "other-volume", "unrecorded"
};

struct ResumePlan {
  std::vector<std::filesystem::path> earlier;  // the ".partial" bags read, newest first
  std::vector<KeptFile> kept;
  std::vector<SetAsideFile> set_aside;
  std::vector<std::filesystem::path> let_go;
  // Earlier bags with a file that could not be read: they stay as they are.
  std::vector<std::filesystem::path> unreadable;
  std::vector<BagProblem> problems;
};

// The ".partial" bags of this serial in the officer's folder, their set-aside ones left out.
std::vector<std::filesystem::path> partial_bags(const std::filesystem::path& folder,
                                                std::string_view serial, bool set_aside);

// Reads every file the earlier bags hold, their cached pages dropped, to know which is which.
ResumePlan plan_resume(const RecorderFiles& files, const std::filesystem::path& folder,
                       std::string_view serial, StoreIo& io);

}  // namespace kbc::evidence
