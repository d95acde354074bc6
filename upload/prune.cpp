#include "upload/prune.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "evidence/bag_check.h"
#include "evidence/bag_info.h"
#include "evidence/file_io.h"
#include "evidence/manifest.h"

namespace kbc::upload {
namespace fs = std::filesystem;
namespace {

// The queue's line of a removed bag: what the erase rule and check --remote need of it.
std::string pruned_line(std::chrono::sys_seconds now, const evidence::StoredBag& bag,
                        const std::string& tagmanifest, const std::string& serial) {
  return "pruned " + evidence::iso_utc(now) + " " + evidence::iso_utc(bag.verified) + " " +
         std::to_string(bag.files) + " " + std::to_string(bag.bytes) + " " + tagmanifest + " " +
         evidence::manifest_path(serial);
}

}  // namespace

int remove_bag(const fs::path& bag) {
  // Out of the store's sight first, whole: a removal cut short leaves no bag half there.
  const fs::path going = bag.parent_path() / ("." + bag.filename().string() + ".removing");
  if (::chmod(bag.c_str(), 0700) != 0 && errno != EPERM) {
    return errno;
  }
  if (::rename(bag.c_str(), going.c_str()) != 0) {
    return errno;
  }
  const evidence::PayloadTree tree = evidence::walk_payload(going);
  for (const fs::path& folder : tree.folders) {
    ::chmod(folder.c_str(), 0700);
  }
  std::error_code error;
  fs::remove_all(going, error);
  if (error) {
    return error.value();
  }
  return evidence::fsync_folder(bag.parent_path());
}

std::vector<Pruned> prune(const UploadQueue& queue, const PruneRun& run) {
  std::vector<Pruned> results;
  const std::chrono::sys_seconds now = run.upload.now;
  for (const evidence::StoredBag& bag : queue.store().bags()) {
    Pruned result;
    result.bag = bag.name;
    result.path = bag.path;
    const fs::path state_file = queue.state_file(bag.name);
    const QueueState state = read_state(state_file);
    if (!state.stored) {
      result.kept = "not stored at the object store yet";
      results.push_back(std::move(result));
      continue;
    }
    // An earlier version noted no time: the state file's last change is when it was stored.
    std::error_code unknown;
    const auto changed = fs::last_write_time(state_file, unknown);
    const std::chrono::sys_seconds stored = state.stored_at.value_or(
        std::chrono::floor<std::chrono::seconds>(std::chrono::file_clock::to_sys(changed)));
    if (now < stored + run.keep_local) {
      continue;
    }
    // Checked again at the store, the retention still ahead: only then is the station's copy
    // let go.
    std::vector<std::string> problems = check_remote(bag.path, queue, run.upload);
    for (const auto& [key, object] : state.objects) {
      const auto until = evidence::parse_iso_utc(object.retain_until);
      if (!until || *until <= now) {
        problems.push_back(key + ": its retention at the store " +
                           (until ? "ended " + object.retain_until : std::string("is not known")));
      }
      result.listed.push_back(key + " " + object.version + " " + object.sha256);
    }
    if (!problems.empty()) {
      result.kept = problems.front();
      results.push_back(std::move(result));
      continue;
    }
    result.tagmanifest_sha256 = evidence::tagmanifest_sha256(bag.path).value_or("");
    result.removed = true;
    result.serial = bag.serial;
    if (!run.dry_run) {
      if (const int error = append_state(
              state_file,
              pruned_line(now, bag, result.tagmanifest_sha256, result.serial.value_or("")));
          error != 0) {
        result.removed = false;
        result.kept = state_file.string() + ": " + std::strerror(error);
      } else if (const int removal = remove_bag(bag.path); removal != 0) {
        result.removed = false;
        result.kept = "cannot be removed: " + std::string(std::strerror(removal));
      } else if (run.removed) {
        run.removed(result);
      }
    }
    results.push_back(std::move(result));
  }
  return results;
}

}  // namespace kbc::upload
