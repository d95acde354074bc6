#include "evidence/resume.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <system_error>

#include "evidence/bag_info.h"
#include "evidence/progress.h"
#include "evidence/store.h"
#include "link/descriptor.h"

namespace kbc::evidence {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t kChunkBytes = 1 << 20;

}  // namespace

std::vector<fs::path> partial_bags(const fs::path& folder, std::string_view serial,
                                   bool set_aside) {
  const std::string prefix = folder_name(serial) + "_";
  std::vector<fs::path> found;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    const std::string filename = entry.path().filename().string();
    std::string_view name = filename;
    if (!name.starts_with(prefix) || !name.ends_with(kPartial) || !entry.is_directory(error) ||
        entry.is_symlink(error)) {
      continue;
    }
    name.remove_suffix(kPartial.size());
    const bool aside = name.ends_with(kSetAside);
    if (aside) {
      name.remove_suffix(kSetAside.size());
    }
    if (aside == set_aside && parse_utc_stamp(name.substr(prefix.size()))) {
      found.push_back(entry.path());
    }
  }
  std::sort(found.begin(), found.end(), std::greater<>());
  return found;
}

ResumePlan plan_resume(const RecorderFiles& files, const fs::path& folder, std::string_view serial,
                       StoreIo& io) {
  ResumePlan plan;
  plan.earlier = partial_bags(folder, serial, false);
  std::map<std::string, std::size_t> by_path;
  for (std::size_t i = 0; i < files.files().size(); ++i) {
    by_path.emplace(files.files()[i].path, i);
  }
  const std::string volume = files.volume_serial();
  std::set<std::size_t> kept;
  std::vector<std::byte> buffer(kChunkBytes);
  for (const fs::path& earlier : plan.earlier) {
    const Progress progress = read_progress(earlier / kProgressFile);
    const bool same_volume = progress.volume == volume;
    std::string name = earlier.filename().string();
    name.resize(name.size() - kPartial.size());
    const PayloadTree tree = walk_payload(earlier / "data");
    if (tree.error) {
      plan.problems.push_back({BagProblem::Kind::store, earlier.string(), *tree.error});
      plan.unreadable.push_back(earlier);
      continue;
    }
    for (const auto& [path, where] : tree.files) {
      const Hashed read = hash_file(where, io, buffer);
      if (read.error != 0) {
        plan.problems.push_back({BagProblem::Kind::store, path, std::strerror(read.error)});
        plan.unreadable.push_back(earlier);
        continue;
      }
      const auto entry = progress.files.find(path);
      const auto index = by_path.find(path);
      const bool recorded = entry != progress.files.end();
      const bool on_recorder = index != by_path.end();
      const bool same_file = same_volume && recorded && on_recorder &&
                             entry->second.identity == identity_of(files.files()[index->second]);
      const bool whole = recorded && entry->second.whole && entry->second.sha256 == read.sha256 &&
                         entry->second.identity.size == read.bytes;
      if (same_file && whole && !kept.count(index->second)) {
        kept.insert(index->second);
        plan.kept.push_back(
            {index->second, where, {path, read.sha256, read.bytes, read.device, read.inode}});
      } else if (same_file) {
        plan.let_go.push_back(where);
      } else {
        const char* reason = !progress.volume ? "unrecorded"
                             : !same_volume   ? "other-volume"
                             : !on_recorder   ? "not-on-recorder"
                             : !recorded      ? "unrecorded"
                                              : "replaced-on-recorder";
        plan.set_aside.push_back(
            {where, name + "/" + path, read.bytes, read.sha256, whole, reason});
      }
    }
  }
  std::sort(plan.unreadable.begin(), plan.unreadable.end());
  plan.unreadable.erase(std::unique(plan.unreadable.begin(), plan.unreadable.end()),
                        plan.unreadable.end());
  return plan;
}

}  // namespace kbc::evidence
