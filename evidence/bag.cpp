#include "evidence/bag.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <system_error>

#include "evidence/copy.h"
#include "evidence/manifest.h"
#include "evidence/progress.h"
#include "evidence/resume.h"
#include "link/descriptor.h"
#include "link/trace.h"

namespace kbc::evidence {
namespace fs = std::filesystem;
namespace {

// The progress record is synced after this many files stored: a file it does not name yet is
// only copied again after a crash.
constexpr int kSyncEvery = 16;

std::string error_text(int error) {
  return std::strerror(error);
}

// recorder-files.txt: each file's path in the bag, its size and times, and the recorder's own
// path where it had to change.
std::string recorder_files(const std::vector<RecordedFile>& files) {
  const auto field = [](std::string_view value) { return percent_encoded(value, "%\t\r\n"); };
  const auto when = [](std::int64_t seconds) {
    return seconds > 0 ? iso_utc(std::chrono::sys_seconds{std::chrono::seconds(seconds)})
                       : std::string();
  };
  std::string text = "# path\tsize\tmodified\tcreated\trecorder-path\n";
  for (const RecordedFile& file : files) {
    text.append(field(file.path))
        .append("\t")
        .append(std::to_string(file.size))
        .append("\t")
        .append(when(file.modified))
        .append("\t")
        .append(when(file.created))
        .append("\t")
        .append(field(file.recorder_path))
        .append("\n");
  }
  return text;
}

class Writer {
 public:
  Writer(RecorderFiles& files, const Store& store, const BagInfo& info, const BagEvents& events,
         std::stop_token stop, StoreIo& io)
      : files_(files),
        store_(store),
        info_(info),
        events_(events),
        stop_(std::move(stop)),
        io_(io),
        folder_(store.officer_folder(info.officer)) {}

  BagOutcome run(std::chrono::sys_seconds started) {
    started_ = started;
    if (!make_place()) {
      return std::move(outcome_);
    }
    // Set-aside bags a crash left unfinished come first: their files are out of the earlier bags.
    for (const fs::path& partial : partial_bags(folder_, info_.serial, true)) {
      note_set_aside(finish_set_aside(store_, partial, info_, io_));
    }
    const ResumePlan plan = plan_resume(files_, folder_, info_.serial, io_);
    for (const BagProblem& problem : plan.problems) {
      // An earlier bag that cannot be read stays as it is; the offload goes on without it.
      link::tracef("An earlier bag stays as it is: %s", problem.english().c_str());
    }
    if (!room_for_rest(plan) || !begin_bag() || !place_kept(plan)) {
      return std::move(outcome_);
    }
    if (!plan.set_aside.empty()) {
      note_set_aside(set_aside(store_, folder_, info_, started_, plan.set_aside, io_));
    }
    let_go(plan);
    copy_rest();
    if (outcome_.cancelled || outcome_.disk_gone || !outcome_.problems.empty()) {
      return std::move(outcome_);
    }
    finish();
    return std::move(outcome_);
  }

 private:
  const std::vector<RecordedFile>& all() const { return files_.files(); }

  void problem(BagProblem::Kind kind, std::string path, int error) {
    outcome_.problems.push_back({kind, std::move(path), error_text(error)});
  }

  void note_set_aside(SetAsideBag bag) {
    if (!bag.name.empty() && (bag.verified || !bag.problems.empty())) {
      outcome_.set_aside.push_back(std::move(bag));
    }
  }

  bool make_place() {
    std::error_code made;
    fs::create_directories(store_.root(), made);
    if (made) {
      outcome_.problems.push_back(
          {BagProblem::Kind::store, store_.root().string(), made.message()});
      return false;
    }
    if (const int error = store_.make_folders(store_.root(), fs::relative(folder_, store_.root()));
        error != 0) {
      problem(BagProblem::Kind::store, folder_.string(), error);
      return false;
    }
    return true;
  }

  // Nothing is written into a store that has not the room for the rest.
  bool room_for_rest(const ResumePlan& plan) {
    std::vector<bool> kept(all().size());
    for (const KeptFile& file : plan.kept) {
      kept[file.index] = true;
    }
    std::uint64_t bytes = 0;
    std::uint64_t files = 0;
    for (std::size_t i = 0; i < all().size(); ++i) {
      if (!kept[i]) {
        bytes += all()[i].size;
        ++files;
      }
    }
    const std::optional<StoreIo::Room> room = io_.room(folder_.c_str());
    if (!room) {
      problem(BagProblem::Kind::store, folder_.string(), errno);
      return false;
    }
    const std::uint64_t needed = room_for(bytes, files, room->block);
    if (needed > room->free) {
      outcome_.problems.push_back({BagProblem::Kind::room, {}, {}, needed, room->free});
      return false;
    }
    return true;
  }

  // A new folder of this run's: made here, never one that was there.
  bool begin_bag() {
    const auto made = store_.make_new_bag(folder_, started_, [&](std::chrono::sys_seconds when) {
      return Store::bag_name(info_.serial, when);
    });
    if (const int* error = std::get_if<int>(&made)) {
      problem(
          BagProblem::Kind::store,
          (folder_ / (Store::bag_name(info_.serial, started_) + std::string(kPartial))).string(),
          *error);
      return false;
    }
    outcome_.name = std::get<std::string>(made);
    bag_ = folder_ / (outcome_.name + std::string(kPartial));
    outcome_.path = bag_;
    if (const int error = store_.make_folder(bag_ / "data"); error != 0) {
      problem(BagProblem::Kind::store, bag_.string(), error);
      return false;
    }
    // Read by whoever goes on with the bag, whatever this process's umask.
    progress_ = link::Descriptor(
        ::open((bag_ / kProgressFile).c_str(),
               O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0640));
    if (progress_.get() < 0 || ::fchmod(progress_.get(), 0640) != 0) {
      problem(BagProblem::Kind::store, std::string(kProgressFile), errno);
      return false;
    }
    if (const int error = append_synced(progress_.get(), progress_start(files_.volume_serial()));
        error != 0) {
      problem(BagProblem::Kind::store, std::string(kProgressFile), error);
      return false;
    }
    if (const int error = fsync_folder(folder_); error != 0) {
      problem(BagProblem::Kind::store, folder_.string(), error);
      return false;
    }
    return true;
  }

  // The files earlier bags hold whole, moved into this one and recorded.
  bool place_kept(const ResumePlan& plan) {
    stored_.resize(all().size());
    const fs::path data = bag_ / "data";
    std::string record;
    for (const KeptFile& kept : plan.kept) {
      const RecordedFile& file = all()[kept.index];
      const fs::path to = data / file.path;
      int error = store_.make_folders(data, fs::path(file.path).parent_path());
      if (error == 0) {
        error = place_file(kept.from, to, kept.file.sha256, io_);
      }
      struct stat status {};
      if (error == 0 && ::lstat(to.c_str(), &status) != 0) {
        error = errno;
      }
      if (error != 0) {
        problem(BagProblem::Kind::store, file.path, error);
        return false;
      }
      stored_[kept.index] = {file.path, kept.file.sha256, file.size, status.st_dev, status.st_ino};
      record += held_line(file.path, identity_of(file), kept.file.sha256);
    }
    if (const int error = append_synced(progress_.get(), record); error != 0) {
      problem(BagProblem::Kind::store, std::string(kProgressFile), error);
      return false;
    }
    if (events_.started) {
      events_.started(bag_, !plan.earlier.empty());
    }
    for (const KeptFile& kept : plan.kept) {
      const RecordedFile& file = all()[kept.index];
      ++outcome_.kept;
      ++outcome_.files;
      outcome_.bytes += file.size;
      stored_bytes_ += file.size;
      if (events_.progress) {
        events_.progress(stored_bytes_);
      }
      if (events_.file_done) {
        events_.file_done({file, kept.file.sha256, true});
      }
    }
    return true;
  }

  // What earlier bags held that is neither kept nor set aside goes, then the bags themselves;
  // a bag with anything else left in it stays.
  void let_go(const ResumePlan& plan) {
    for (const fs::path& file : plan.let_go) {
      ::unlink(file.c_str());
    }
    for (const fs::path& earlier : plan.earlier) {
      if (std::find(plan.unreadable.begin(), plan.unreadable.end(), earlier) !=
          plan.unreadable.end()) {
        continue;
      }
      for (const fs::path& folder : walk_payload(earlier / "data").folders) {
        ::rmdir(folder.c_str());
      }
      std::error_code error;
      if (fs::exists(earlier / "data", error)) {
        // A file it still holds (a set-aside that failed): its record stays with it.
        continue;
      }
      for (const auto& entry : fs::directory_iterator(earlier, error)) {
        // Tag files a run that could not rename its bag wrote, and the record.
        if (entry.is_regular_file(error) && !entry.is_symlink(error) &&
            entry.path().filename() != kProgressFile) {
          ::unlink(entry.path().c_str());
        }
      }
      ::unlink((earlier / kProgressFile).c_str());
      ::rmdir(earlier.c_str());
    }
  }

  void copy_rest() {
    std::vector<std::size_t> rest;
    for (std::size_t i = 0; i < all().size(); ++i) {
      if (stored_[i].sha256.empty()) {
        rest.push_back(i);
      }
    }
    int unsynced = 0;
    CopyEvents events;
    events.begun = [&](std::size_t index) {
      StoreIo plain;
      const std::string line = begun_line(all()[index]);
      return write_all(progress_.get(), std::as_bytes(std::span(line)), plain);
    };
    events.stored = [&](std::size_t index, const std::string& sha256) {
      const RecordedFile& file = all()[index];
      // Recorded before it is told: a file said to be stored is one the next run keeps.
      const std::string line = held_line(file.path, identity_of(file), sha256);
      StoreIo plain;
      const int error = ++unsynced < kSyncEvery
                            ? write_all(progress_.get(), std::as_bytes(std::span(line)), plain)
                            : append_synced(progress_.get(), line);
      unsynced %= kSyncEvery;
      if (error != 0) {
        return error;
      }
      ++outcome_.files;
      outcome_.bytes += file.size;
      if (events_.file_done) {
        events_.file_done({file, sha256, false});
      }
      return 0;
    };
    const std::uint64_t before = stored_bytes_;
    events.progress = [&](std::uint64_t bytes) {
      stored_bytes_ = before + bytes;
      if (events_.progress) {
        events_.progress(stored_bytes_);
      }
    };
    events.verifying = events_.verifying;
    const fs::path data = bag_ / "data";
    std::set<fs::path> changed;
    CopyOutcome copied = copy_files(files_, rest, data, store_, io_, stop_, events,
                                    [&](const fs::path& folder) { changed.insert(folder); });
    if (::fdatasync(progress_.get()) != 0) {
      problem(BagProblem::Kind::store, std::string(kProgressFile), errno);
    }
    for (const fs::path& folder : changed) {
      if (const int error = fsync_folder(folder); error != 0) {
        problem(BagProblem::Kind::store, folder.string(), error);
      }
    }
    outcome_.cancelled = copied.cancelled;
    outcome_.disk_gone = copied.disk_gone;
    outcome_.problems.insert(outcome_.problems.end(), copied.problems.begin(),
                             copied.problems.end());
    for (std::size_t slot = 0; slot < rest.size(); ++slot) {
      const StoredFile& stored = copied.stored[slot];
      const RecordedFile& file = all()[rest[slot]];
      stored_[rest[slot]] = {file.path, stored.sha256, file.size, stored.device, stored.inode};
    }
  }

  void finish() {
    std::vector<PayloadFile> payload;
    for (std::size_t i = 0; i < all().size(); ++i) {
      if (stored_[i].sha256.empty()) {
        // Not read back whole: said by the copy already, unless it was stopped.
        outcome_.cancelled = true;
        return;
      }
      payload.push_back(stored_[i]);
    }
    const Labels more{{"Recorder-Volume", files_.description()},
                      {"Recorder-Volume-Serial",
                       files_.volume_serial().empty() ? "unknown" : files_.volume_serial()},
                      {"Offload-Started", iso_utc(started_)}};
    progress_ = link::Descriptor(-1);
    const Finished finished = finish_bag(
        store_, bag_, folder_ / outcome_.name, payload,
        [&](const PayloadOxum& oxum, std::chrono::sys_seconds verified) {
          return bag_info_text(info_, more, oxum, verified);
        },
        {{"recorder-files.txt", recorder_files(all())}}, io_);
    outcome_.problems = finished.problems;
    if (finished.verified) {
      outcome_.verified = true;
      outcome_.path = finished.path;
      outcome_.tagmanifest_sha256 = finished.tagmanifest_sha256;
    }
  }

  RecorderFiles& files_;
  const Store& store_;
  const BagInfo& info_;
  const BagEvents& events_;
  std::stop_token stop_;
  StoreIo& io_;
  fs::path folder_;
  fs::path bag_;
  std::chrono::sys_seconds started_{};
  link::Descriptor progress_{-1};
  std::vector<PayloadFile> stored_;  // per recorder file, once kept or read back
  std::uint64_t stored_bytes_ = 0;
  BagOutcome outcome_;
};

}  // namespace

std::string BagProblem::english() const {
  std::string what;
  switch (kind) {
    case Kind::differs:
      what = "the stored copy differs from what was read off the recorder";
      break;
    case Kind::room:
      what = "the store has " + std::to_string(free) + " bytes free; the offload needs " +
             std::to_string(needed);
      break;
    case Kind::changed:
      what = detail.empty() ? "the bag changed while it was being verified" : detail;
      break;
    case Kind::recorder:
    case Kind::store:
      what = detail;
      break;
  }
  return path.empty() ? what : path + ": " + what;
}

std::vector<std::string> english_lines(const std::vector<BagProblem>& problems) {
  std::vector<std::string> lines;
  for (const BagProblem& problem : problems) {
    lines.push_back(problem.english());
  }
  return lines;
}

std::uint64_t room_for(std::uint64_t bytes, std::uint64_t files, std::uint64_t block) {
  // The manifests and the progress record: some 400 bytes a file, and the small tag files.
  return bytes + files * (block + 400) + (64u << 10);
}

BagOutcome write_bag(RecorderFiles& files, const Store& store, const RecorderLock& lock,
                     const BagInfo& info, std::chrono::sys_seconds started, const BagEvents& events,
                     std::stop_token stop, StoreIo& io) {
  (void)lock;  // held by the caller: this run is the recorder's only one
  return Writer(files, store, info, events, std::move(stop), io).run(started);
}

}  // namespace kbc::evidence
