// Files of earlier offloads cut short that the recorder no longer holds as they were, kept in a
// verified bag of their own beside the offload's, <serial>_<stamp>-set-aside, whose bag-info says
// why and whose set-aside-files.txt says of each file whether it was stored whole. Nothing the
// store holds is ever deleted for being no longer on the recorder.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "evidence/bag_info.h"
#include "evidence/bag_problem.h"
#include "evidence/file_io.h"
#include "evidence/resume.h"
#include "evidence/store.h"

namespace kbc::evidence {

struct SetAsideBag {
  bool verified = false;
  std::filesystem::path path;  // the bag, or its ".partial"
  std::string name;
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
  std::string tagmanifest_sha256;
  std::vector<BagProblem> problems;
};

// Moves the files into a new set-aside bag in `folder` and verifies it. The caller holds the
// recorder's lock.
SetAsideBag set_aside(const Store& store, const std::filesystem::path& folder, const BagInfo& info,
                      std::chrono::sys_seconds started, const std::vector<SetAsideFile>& files,
                      StoreIo& io);

// A set-aside bag a crash left unfinished, verified with the files it holds.
SetAsideBag finish_set_aside(const Store& store, const std::filesystem::path& partial,
                             const BagInfo& info, StoreIo& io);

}  // namespace kbc::evidence
