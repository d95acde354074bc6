#include "evidence/bag.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <system_error>

#include "console/printable.h"
#include "evidence/sha256.h"
#include "link/descriptor.h"

namespace kbc::evidence {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t kChunkBytes = 1 << 20;
constexpr std::string_view kProgress = ".kbc-progress";
constexpr std::string_view kTagFiles[] = {"bagit.txt", "bag-info.txt", "manifest-sha256.txt",
                                          "recorder-files.txt"};

constexpr auto kRecorder = BagProblem::Kind::recorder;
constexpr auto kStore = BagProblem::Kind::store;
constexpr auto kDiffers = BagProblem::Kind::differs;

std::string error_text(int error) {
  return std::strerror(error);
}

int fsync_path(const fs::path& path, int flags) {
  const link::Descriptor fd(::open(path.c_str(), flags | O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0 || ::fsync(fd.get()) != 0) {
    return errno;
  }
  return 0;
}

int fsync_folder(const fs::path& folder) {
  return fsync_path(folder, O_DIRECTORY);
}

// Makes each missing folder of `folder` below `base`, noting every folder whose entries changed.
int make_folders(const Store& store, const fs::path& base, const fs::path& folder,
                 std::set<fs::path>& changed) {
  fs::path at = base;
  for (const fs::path& part : folder) {
    const fs::path next = at / part;
    if (const int error = store.make_folder(next); error == 0) {
      changed.insert(at);
      changed.insert(next);
    } else if (error != EEXIST) {
      return error;
    }
    at = next;
  }
  return 0;
}

// Every byte written through `io`, however few each write takes: 0, or the error.
int write_all(int fd, std::span<const std::byte> bytes, StoreIo& io) {
  for (std::span<const std::byte> rest = bytes; !rest.empty();) {
    const ssize_t n = io.write(fd, rest);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return n < 0 ? errno : EIO;
    }
    rest = rest.subspan(static_cast<std::size_t>(n));
  }
  return 0;
}

// A text file of the bag, written whole and fsynced.
int write_text(const fs::path& path, std::string_view text, StoreIo& io) {
  const link::Descriptor fd(
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0640));
  if (fd.get() < 0) {
    return errno;
  }
  if (const int error = write_all(fd.get(), std::as_bytes(std::span(text)), io); error != 0) {
    return error;
  }
  return ::fsync(fd.get()) == 0 ? 0 : errno;
}

struct Hashed {
  std::string sha256;
  std::uint64_t bytes = 0;
  int error = 0;
};

// The SHA-256 of a stored file, read back through `io`.
Hashed hash_stored(const fs::path& path, StoreIo& io, std::vector<std::byte>& buffer) {
  Hashed hashed;
  const link::Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (fd.get() < 0) {
    hashed.error = errno;
    return hashed;
  }
  Sha256 hash;
  while (true) {
    const ssize_t n = io.read(fd.get(), buffer);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      hashed.error = errno;
      return hashed;
    }
    if (n == 0) {
      break;
    }
    hash.update(std::span(buffer.data(), static_cast<std::size_t>(n)));
    hashed.bytes += static_cast<std::uint64_t>(n);
  }
  hashed.sha256 = hash.hex();
  return hashed;
}

// What a bag cut short holds whole: per path, the hash, size and time the file had.
struct Held {
  std::string sha256;
  std::uint64_t size;
  std::int64_t modified;
};

std::map<std::string, Held> read_progress(const fs::path& file) {
  std::map<std::string, Held> held;
  std::ifstream in(file);
  std::string line;
  // "SHA256 SIZE MODIFIED PATH", the path percent-encoded as in a manifest and last, spaces and
  // all; a line cut short by a crash does not parse and is left out.
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    Held entry{};
    if (!(fields >> entry.sha256 >> entry.size >> entry.modified) || entry.sha256.size() != 64 ||
        fields.get() != ' ') {
      continue;
    }
    std::string encoded;
    std::getline(fields, encoded);
    if (auto path = decoded_manifest_path(encoded); path && !path->empty()) {
      held[*path] = entry;
    }
  }
  return held;
}

std::string percent_encoded(std::string_view text, std::string_view special) {
  std::string out;
  for (const char c : text) {
    if (special.find(c) != std::string_view::npos) {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", static_cast<unsigned char>(c));
      out += escape;
    } else {
      out += c;
    }
  }
  return out;
}

std::string iso_time(std::int64_t seconds) {
  if (seconds <= 0) {
    return "";
  }
  return iso_utc(std::chrono::sys_seconds{std::chrono::seconds(seconds)});
}

// A value of bag-info.txt: one line of plain text, whatever the recorder holds.
std::string info_value(const std::optional<std::string>& text) {
  return text ? console::printable(*text) : std::string("unknown");
}

std::string bag_info(const BagInfo& info, const std::string& volume, std::uint64_t bytes,
                     std::uint64_t files, std::chrono::sys_seconds started,
                     std::chrono::sys_seconds finished) {
  const Officer& officer = info.officer;
  std::string text;
  const auto add = [&](std::string_view label, const std::string& value) {
    text.append(label).append(": ").append(value).append("\n");
  };
  const std::string date = iso_time(finished.time_since_epoch().count());
  add("Source-Organization", info_value(officer.unit_name));
  add("External-Identifier", console::printable(info.serial));
  add("External-Description",
      "Recordings of body-worn recorder " + console::printable(info.serial));
  add("Bagging-Date", date.substr(0, 10));
  add("Payload-Oxum", std::to_string(bytes) + "." + std::to_string(files));
  add("Bag-Software-Agent", console::printable(info.tool));
  add("Recorder-Serial", console::printable(info.serial));
  add("Officer-Number", info_value(officer.user_number));
  add("Officer-Name", info_value(officer.user_name));
  add("Unit-Number", info_value(officer.unit_number));
  add("Unit-Name", info_value(officer.unit_name));
  add("Station-Host", console::printable(info.host));
  add("Station-Operator", console::printable(info.operator_name));
  add("Recorder-Volume", console::printable(volume));
  add("Offload-Started", iso_time(started.time_since_epoch().count()));
  add("Offload-Verified", date);
  return text;
}

std::string recorder_files(const std::vector<RecordedFile>& files) {
  std::string text = "# path\tsize\tmodified\tcreated\trecorder-path\n";
  for (const RecordedFile& file : files) {
    const auto field = [](std::string_view value) { return percent_encoded(value, "%\t\r\n"); };
    text.append(field(file.path))
        .append("\t")
        .append(std::to_string(file.size))
        .append("\t")
        .append(iso_time(file.modified))
        .append("\t")
        .append(iso_time(file.created))
        .append("\t")
        .append(field(file.recorder_path))
        .append("\n");
  }
  return text;
}

// The newest ".partial" bag of this serial in the officer's folder.
std::optional<fs::path> partial_of(const fs::path& folder, std::string_view serial) {
  const std::string prefix = folder_name(serial) + "_";
  std::optional<fs::path> newest;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) != 0 || name.size() <= kPartial.size() ||
        name.substr(name.size() - kPartial.size()) != kPartial || !entry.is_directory(error) ||
        entry.is_symlink(error)) {
      continue;
    }
    const std::string_view stamp =
        std::string_view(name).substr(prefix.size(), name.size() - prefix.size() - kPartial.size());
    if (parse_utc_stamp(stamp) && (!newest || name > newest->filename().string())) {
      newest = entry.path();
    }
  }
  return newest;
}

class Writer {
 public:
  Writer(RecorderFiles& files, const BagInfo& info, const BagEvents& events, std::stop_token stop,
         StoreIo& io)
      : files_(files),
        info_(info),
        events_(events),
        stop_(std::move(stop)),
        io_(io),
        buffer_(kChunkBytes) {}

  BagOutcome run(const Store& store, std::chrono::sys_seconds started) {
    store_ = &store;
    const fs::path folder = store.officer_folder(info_.officer);
    std::set<fs::path> changed;
    std::error_code made;
    fs::create_directories(store.root(), made);
    if (made) {
      outcome_.problems.push_back({kStore, store.root().string(), made.message()});
      return outcome_;
    }
    if (const int error =
            make_folders(store, store.root(), fs::relative(folder, store.root()), changed);
        error != 0) {
      return fail_whole(folder.string(), error);
    }
    const std::optional<fs::path> earlier = partial_of(folder, info_.serial);
    // Two offloads of a recorder in one second get a second apart: no bag is ever replaced.
    std::string name = Store::bag_name(info_.serial, started);
    while (!earlier &&
           (fs::exists(folder / name) || fs::exists(folder / (name + std::string(kPartial))))) {
      started += std::chrono::seconds(1);
      name = Store::bag_name(info_.serial, started);
    }
    if (earlier) {
      const std::string partial = earlier->filename().string();
      name = partial.substr(0, partial.size() - kPartial.size());
      started_ = *parse_utc_stamp(std::string_view(name).substr(name.size() - 16));
    } else {
      started_ = started;
    }
    outcome_.name = name;
    outcome_.path = folder / (name + std::string(kPartial));
    bag_ = outcome_.path;
    if (const int error =
            make_folders(store, folder, fs::path(outcome_.path.filename()) / "data", changed);
        error != 0) {
      return fail_whole(outcome_.path.string(), error);
    }
    held_ = read_progress(bag_ / kProgress);
    progress_ = std::make_unique<link::Descriptor>(
        ::open((bag_ / kProgress).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640));
    if (progress_->get() < 0) {
      return fail_whole(outcome_.path.string(), errno);
    }
    store.share_file(progress_->get());
    if (events_.started) {
      events_.started(outcome_.path, earlier.has_value());
    }

    const std::vector<RecordedFile>& all = files_.files();
    hashes_.resize(all.size());
    for (std::size_t i = 0; i < all.size() && !stopped_; ++i) {
      if (stop_.stop_requested()) {
        outcome_.cancelled = true;
        break;
      }
      store_file(i, changed);
    }
    for (const fs::path& changed_folder : changed) {
      if (const int error = fsync_folder(changed_folder); error != 0) {
        outcome_.problems.push_back({kStore, changed_folder.string(), error_text(error)});
      }
    }
    if (stopped_ || outcome_.cancelled || !outcome_.problems.empty()) {
      return outcome_;
    }
    if (events_.verifying) {
      events_.verifying();
    }
    read_back();
    if (!outcome_.problems.empty() || outcome_.cancelled) {
      return outcome_;
    }
    finish(folder);
    return outcome_;
  }

 private:
  BagOutcome fail_whole(std::string path, int error) {
    outcome_.problems.push_back({kStore, std::move(path), error_text(error)});
    return outcome_;
  }

  void note_progress(std::uint64_t bytes) {
    read_ += bytes;
    if (events_.progress) {
      events_.progress(read_);
    }
  }

  // Whether the bag of an earlier offload holds this file whole: the recorder's file is as it was
  // then, and the stored copy hashes as it did when it was read off the recorder.
  bool already_held(std::size_t index, const fs::path& stored) {
    const RecordedFile& file = files_.files()[index];
    const auto found = held_.find(file.path);
    if (found == held_.end() || found->second.size != file.size ||
        found->second.modified != file.modified) {
      return false;
    }
    const Hashed hashed = hash_stored(stored, io_, buffer_);
    if (hashed.error != 0 || hashed.bytes != file.size || hashed.sha256 != found->second.sha256) {
      return false;
    }
    hashes_[index] = hashed.sha256;
    return true;
  }

  void store_file(std::size_t index, std::set<fs::path>& changed) {
    const RecordedFile& file = files_.files()[index];
    const fs::path data = bag_ / "data";
    const fs::path stored = data / file.path;
    if (already_held(index, stored)) {
      ++outcome_.kept;
      ++outcome_.files;
      outcome_.bytes += file.size;
      note_progress(file.size);
      if (events_.file_done) {
        events_.file_done({file, hashes_[index], true});
      }
      return;
    }
    if (const int error = make_folders(*store_, data, fs::path(file.path).parent_path(), changed);
        error != 0) {
      stop_with(file.path, error);
      return;
    }
    link::Descriptor out(
        ::open(stored.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0640));
    if (out.get() < 0) {
      stop_with(file.path, errno);
      return;
    }
    changed.insert(stored.parent_path());
    Sha256 hash;
    std::uint64_t copied = 0;
    int write_error = 0;
    const std::optional<ReadFailure> failure =
        files_.read(index, [&](std::span<const std::byte> bytes) {
          hash.update(bytes);
          write_error = write_all(out.get(), bytes, io_);
          if (write_error != 0) {
            return false;
          }
          copied += bytes.size();
          note_progress(bytes.size());
          return !stop_.stop_requested();
        });
    if (write_error != 0) {
      stop_with(file.path, write_error);
      return;
    }
    if (failure) {
      outcome_.problems.push_back({kRecorder, file.path, failure->what});
      ::unlink(stored.c_str());
      if (failure->gone) {
        outcome_.disk_gone = true;
        stopped_ = true;
      } else if (++failures_in_a_row_ >= 3) {
        // A disk that fails file after file is going or gone.
        outcome_.disk_gone = true;
        stopped_ = true;
      }
      return;
    }
    if (copied != file.size) {
      // Stopped between two reads.
      outcome_.cancelled = true;
      ::unlink(stored.c_str());
      stopped_ = true;
      return;
    }
    failures_in_a_row_ = 0;
    if (::fsync(out.get()) != 0) {
      stop_with(file.path, errno);
      return;
    }
    // The recorder's times go along, as far as the store keeps them.
    const timespec times[2] = {{file.accessed > 0 ? file.accessed : file.modified, 0},
                               {file.modified, 0}};
    if (file.modified > 0) {
      ::futimens(out.get(), times);
    }
    hashes_[index] = hash.hex();
    record_held(hashes_[index] + " " + std::to_string(file.size) + " " +
                std::to_string(file.modified) + " " + manifest_path(file.path) + "\n");
    ++outcome_.files;
    outcome_.bytes += file.size;
    if (events_.file_done) {
      events_.file_done({file, hashes_[index], false});
    }
  }

  // A line of the progress record is written once its file is on the disk, so that a file is
  // only ever kept when it was stored whole.
  void record_held(const std::string& line) {
    if (::write(progress_->get(), line.data(), line.size()) != static_cast<ssize_t>(line.size()) ||
        ::fdatasync(progress_->get()) != 0) {
      stop_with(std::string(kProgress), errno);
    }
  }

  // A problem of the store: nothing more can be stored.
  void stop_with(std::string path, int error) {
    outcome_.problems.push_back({kStore, std::move(path), error_text(error)});
    stopped_ = true;
  }

  void read_back() {
    const std::vector<RecordedFile>& all = files_.files();
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (stop_.stop_requested()) {
        outcome_.cancelled = true;
        return;
      }
      const Hashed hashed = hash_stored(bag_ / "data" / all[i].path, io_, buffer_);
      if (hashed.error != 0) {
        outcome_.problems.push_back({kStore, all[i].path, error_text(hashed.error)});
      } else if (hashed.bytes != all[i].size || hashed.sha256 != hashes_[i]) {
        outcome_.problems.push_back({kDiffers, all[i].path, {}});
      }
    }
  }

  void finish(const fs::path& folder) {
    const std::vector<RecordedFile>& all = files_.files();
    std::string manifest;
    for (std::size_t i = 0; i < all.size(); ++i) {
      manifest.append(hashes_[i]).append("  data/").append(manifest_path(all[i].path)).append("\n");
    }
    const std::chrono::sys_seconds finished =
        std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    const std::string texts[] = {
        "BagIt-Version: 1.0\nTag-File-Character-Encoding: UTF-8\n",
        bag_info(info_, files_.description(), outcome_.bytes, outcome_.files, started_, finished),
        manifest,
        recorder_files(all),
    };
    std::string tagmanifest;
    for (std::size_t i = 0; i < std::size(kTagFiles); ++i) {
      if (const int error = write_text(bag_ / kTagFiles[i], texts[i], io_); error != 0) {
        outcome_.problems.push_back({kStore, std::string(kTagFiles[i]), error_text(error)});
        return;
      }
      tagmanifest.append(sha256_hex(texts[i])).append("  ").append(kTagFiles[i]).append("\n");
    }
    if (const int error = write_text(bag_ / "tagmanifest-sha256.txt", tagmanifest, io_);
        error != 0) {
      outcome_.problems.push_back({kStore, "tagmanifest-sha256.txt", error_text(error)});
      return;
    }
    // The tag files read back as they were written.
    for (std::size_t i = 0; i < std::size(kTagFiles); ++i) {
      const Hashed hashed = hash_stored(bag_ / kTagFiles[i], io_, buffer_);
      if (hashed.error != 0 || hashed.sha256 != sha256_hex(texts[i])) {
        outcome_.problems.push_back({kDiffers, std::string(kTagFiles[i]), {}});
      }
    }
    const Hashed tags = hash_stored(bag_ / "tagmanifest-sha256.txt", io_, buffer_);
    if (tags.error != 0 || tags.sha256 != sha256_hex(tagmanifest)) {
      outcome_.problems.push_back({kDiffers, "tagmanifest-sha256.txt", {}});
    }
    if (!outcome_.problems.empty()) {
      return;
    }
    progress_.reset();
    ::unlink((bag_ / kProgress).c_str());
    const fs::path final_path = folder / outcome_.name;
    if (const int error = fsync_folder(bag_); error != 0) {
      outcome_.problems.push_back({kStore, bag_.string(), error_text(error)});
      return;
    }
    if (::renameat2(AT_FDCWD, bag_.c_str(), AT_FDCWD, final_path.c_str(), RENAME_NOREPLACE) != 0) {
      outcome_.problems.push_back({kStore, final_path.string(), error_text(errno)});
      return;
    }
    if (const int error = fsync_folder(folder); error != 0) {
      outcome_.problems.push_back({kStore, folder.string(), error_text(error)});
      ::rename(final_path.c_str(), bag_.c_str());
      return;
    }
    outcome_.path = final_path;
    outcome_.tagmanifest_sha256 = tags.sha256;
    outcome_.verified = true;
  }

  RecorderFiles& files_;
  const BagInfo& info_;
  const BagEvents& events_;
  std::stop_token stop_;
  StoreIo& io_;
  const Store* store_ = nullptr;
  std::vector<std::byte> buffer_;
  BagOutcome outcome_;
  fs::path bag_;
  std::chrono::sys_seconds started_{};
  std::map<std::string, Held> held_;
  std::unique_ptr<link::Descriptor> progress_;
  std::vector<std::string> hashes_;
  std::uint64_t read_ = 0;
  int failures_in_a_row_ = 0;
  bool stopped_ = false;
};

}  // namespace

std::string BagProblem::english() const {
  const std::string what = kind == Kind::differs
                               ? "the stored copy differs from what was read off the recorder"
                               : detail;
  return path.empty() ? what : path + ": " + what;
}

std::string BagProblem::chinese() const {
  std::string what;
  switch (kind) {
    case Kind::recorder:
      what = "读取记录仪失败 (" + detail + ")";
      break;
    case Kind::store:
      what = "写入证据库失败 (" + detail + ")";
      break;
    case Kind::differs:
      what = "证据库中的副本与记录仪上读出的不一致";
      break;
  }
  return path.empty() ? what : path + ": " + what;
}

std::vector<std::string> BagOutcome::problem_lines(bool chinese) const {
  std::vector<std::string> lines;
  for (const BagProblem& problem : problems) {
    lines.push_back(chinese ? problem.chinese() : problem.english());
  }
  return lines;
}

ssize_t StoreIo::write(int fd, std::span<const std::byte> bytes) {
  return ::write(fd, bytes.data(), bytes.size());
}

ssize_t StoreIo::read(int fd, std::span<std::byte> bytes) {
  return ::read(fd, bytes.data(), bytes.size());
}

BagOutcome write_bag(RecorderFiles& files, const Store& store, const BagInfo& info,
                     std::chrono::sys_seconds started, const BagEvents& events,
                     std::stop_token stop, StoreIo& io) {
  Writer writer(files, info, events, std::move(stop), io);
  return writer.run(store, started);
}

std::string manifest_path(std::string_view path) {
  return percent_encoded(path, "%\r\n");
}

std::optional<std::string> decoded_manifest_path(std::string_view encoded) {
  std::string path;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] != '%') {
      path += encoded[i];
      continue;
    }
    unsigned value = 0;
    if (i + 2 >= encoded.size()) {
      return std::nullopt;
    }
    const auto [end, error] =
        std::from_chars(encoded.data() + i + 1, encoded.data() + i + 3, value, 16);
    if (error != std::errc() || end != encoded.data() + i + 3) {
      return std::nullopt;
    }
    path += static_cast<char>(value);
    i += 2;
  }
  return path;
}

}  // namespace kbc::evidence
