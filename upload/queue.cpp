#include "upload/queue.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <system_error>

#include "evidence/bag_info.h"
#include "evidence/file_io.h"
#include "evidence/manifest.h"
#include "link/descriptor.h"

namespace kbc::upload {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kState = ".state";
constexpr std::string_view kStored = "stored";

// The offload's stamp in a bag's name, "<serial>_<stamp>" or "<serial>_<stamp>-set-aside".
std::string stamp_of(std::string_view name) {
  if (name.ends_with(evidence::kSetAside)) {
    name.remove_suffix(evidence::kSetAside.size());
  }
  const std::size_t underscore = name.rfind('_');
  return std::string(underscore == std::string_view::npos ? name : name.substr(underscore + 1));
}

}  // namespace

std::chrono::seconds backoff(int failures) {
  constexpr int kFreeTries = 3;
  if (failures < kFreeTries) {
    return std::chrono::seconds(0);
  }
  const auto hours = std::chrono::hours(1) * (1 << std::min(failures - kFreeTries, 5));
  return std::min<std::chrono::seconds>(hours, std::chrono::hours(24));
}

QueueState read_state(const fs::path& file) {
  QueueState state;
  std::ifstream in(file, std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::istringstream lines(text);
  std::string line;
  // A line is only whole with its end: one cut short by a crash is left out.
  for (std::size_t at = 0; std::getline(lines, line) && (at += line.size() + 1) <= text.size();) {
    std::istringstream words(line);
    std::string word;
    words >> word;
    std::string rest;
    const auto tail = [&] {
      std::getline(words >> std::ws, rest);
      return evidence::decoded_manifest_path(rest).value_or("");
    };
    if (word == "bag") {
      if (const std::string bag = tail(); !bag.empty() && fs::path(bag).is_relative()) {
        state.bag = bag;
      }
    } else if (word == "object") {
      NotedObject object;
      std::string size_or_version;
      words >> object.sha256 >> size_or_version;
      // An earlier version noted no size and no retention: "object SHA256 VERSION KEY".
      std::istringstream number(size_or_version);
      if (number >> object.size && number.eof()) {
        words >> object.version >> object.retain_until;
      } else {
        object.size = 0;
        object.version = size_or_version;
      }
      const std::string key = tail();
      if (evidence::is_sha256_hex(object.sha256) && !object.version.empty() && !key.empty()) {
        state.objects[key] = std::move(object);
      }
    } else if (word == "multipart") {
      std::string id;
      words >> id;
      state.open_uploads[id] = tail();
    } else if (word == "aborted" || word == "completed") {
      std::string id;
      words >> id;
      state.open_uploads.erase(id);
    } else if (word == "error") {
      state.error = tail();
    } else if (word == "failed") {
      std::string when;
      words >> when;
      ++state.failures;
      state.failed_at = evidence::parse_iso_utc(when);
    } else if (word == "pruned") {
      std::string when, verified;
      PrunedBag pruned;
      words >> when >> verified >> pruned.files >> pruned.bytes >> pruned.tagmanifest_sha256;
      pruned.serial = tail();
      const auto at = evidence::parse_iso_utc(when);
      const auto made = evidence::parse_iso_utc(verified);
      if (at && made && evidence::is_sha256_hex(pruned.tagmanifest_sha256)) {
        pruned.when = *at;
        pruned.verified = *made;
        state.pruned = std::move(pruned);
      }
    } else if (word == "stored") {
      std::string retain, when;
      words >> retain >> when;
      state.stored = true;
      state.stored_at = evidence::parse_iso_utc(when);
      state.error.reset();
    }
  }
  return state;
}

int append_state(const fs::path& file, const std::string& line) {
  return evidence::append_synced(file, line + "\n");
}

UploadQueue::UploadQueue(evidence::Store store)
    : store_(std::move(store)), folder_(store_.root() / ".uploads") {}

int UploadQueue::make_folder() const {
  std::error_code made;
  fs::create_directories(store_.root(), made);
  if (made) {
    return made.value();
  }
  const int error = store_.make_folder(folder_);
  return error == EEXIST ? 0 : error;
}

fs::path UploadQueue::state_file(const std::string& name) const {
  const fs::path stored = folder_ / kStored / (name + std::string(kState));
  std::error_code error;
  return fs::exists(stored, error) ? stored : folder_ / (name + std::string(kState));
}

int UploadQueue::settle(const std::string& name) const {
  const fs::path stored = folder_ / kStored;
  if (const int error = store_.make_folder(stored); error != 0 && error != EEXIST) {
    return error;
  }
  const std::string file = name + std::string(kState);
  if (::rename((folder_ / file).c_str(), (stored / file).c_str()) != 0) {
    return errno;
  }
  const int error = evidence::fsync_folder(stored);
  return error != 0 ? error : evidence::fsync_folder(folder_);
}

int UploadQueue::write_new(const fs::path& file, const fs::path& bag, bool replace) const {
  // Written beside it and put in place whole, so that it is never seen empty.
  const fs::path next = file.string() + ".new-" + std::to_string(::getpid());
  const std::string line =
      "bag " + evidence::manifest_path(fs::relative(bag, store_.root()).string()) + "\n";
  ::unlink(next.c_str());
  {
    const link::Descriptor fd(
        ::open(next.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0640));
    if (fd.get() < 0) {
      return errno;
    }
    // The upload service appends to it.
    store_.share_file(fd.get());
    evidence::StoreIo plain;
    if (const int error = evidence::write_all(fd.get(), std::as_bytes(std::span(line)), plain);
        error != 0) {
      return error;
    }
    if (::fsync(fd.get()) != 0) {
      return errno;
    }
  }
  // link() never replaces: the state file an upload has begun to append to stays as it is.
  const int placed =
      replace ? ::rename(next.c_str(), file.c_str()) : ::link(next.c_str(), file.c_str());
  const int error = placed == 0 ? 0 : errno;
  ::unlink(next.c_str());
  if (error != 0) {
    return error;
  }
  return evidence::fsync_folder(folder_);
}

bool UploadQueue::enqueue(const fs::path& bag) const {
  if (const int error = make_folder(); error != 0) {
    errno = error;
    return false;
  }
  const std::string name = bag.filename().string();
  std::error_code there;
  if (fs::exists(folder_ / kStored / (name + std::string(kState)), there)) {
    return true;
  }
  const int error = write_new(folder_ / (name + std::string(kState)), bag, false);
  if (error != 0 && error != EEXIST) {
    errno = error;
    return false;
  }
  return true;
}

UploadQueue::Repaired UploadQueue::repair() const {
  Repaired repaired;
  if (const int error = make_folder(); error != 0) {
    repaired.problems.push_back(folder_.string() + ": " + std::strerror(error));
    return repaired;
  }
  // A stored bag whose state a crash left among the waiting ones.
  for (const QueuedBag& waiting : bags()) {
    if (waiting.stored) {
      if (const int error = settle(waiting.name); error != 0) {
        repaired.problems.push_back(waiting.name + ": " + std::strerror(error));
      }
    }
  }
  for (const evidence::StoredBag& bag : store_.bags()) {
    const fs::path file = state_file(bag.name);
    std::error_code there;
    const bool exists = fs::exists(file, there);
    if (exists && read_state(file).bag) {
      continue;
    }
    if (const int error = write_new(file, bag.path, exists); error != 0) {
      repaired.problems.push_back(bag.name + ": cannot be queued: " + std::strerror(error));
    } else {
      repaired.done.push_back(bag.name + (exists ? ": its torn state file written anew"
                                                 : ": verified but not queued; queued now"));
    }
  }
  return repaired;
}

std::vector<QueuedBag> UploadQueue::listed(const fs::path& folder) const {
  std::vector<QueuedBag> bags;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    if (entry.path().extension() == kState && entry.is_regular_file(error)) {
      bags.push_back(queued(entry.path()));
    }
  }
  std::ranges::sort(bags, [](const QueuedBag& a, const QueuedBag& b) {
    return a.stamp != b.stamp ? a.stamp < b.stamp : a.name < b.name;
  });
  return bags;
}

std::vector<QueuedBag> UploadQueue::bags() const {
  return listed(folder_);
}

std::vector<QueuedBag> UploadQueue::stored_bags() const {
  return listed(folder_ / kStored);
}

std::optional<QueuedBag> UploadQueue::find(const std::string& name) const {
  const fs::path file = state_file(name);
  std::error_code error;
  if (!fs::is_regular_file(file, error)) {
    return std::nullopt;
  }
  return queued(file);
}

QueuedBag UploadQueue::queued(const fs::path& state_file) const {
  const QueueState state = read_state(state_file);
  QueuedBag bag;
  bag.name = state_file.stem().string();
  bag.bag = store_.root() / state.bag.value_or(fs::path());
  evidence::read_payload_oxum(bag.bag, bag.bytes, bag.files);
  bag.stored = state.stored;
  bag.error = state.error;
  bag.stamp = stamp_of(bag.name);
  bag.stored_at = state.stored_at;
  bag.failures = state.failures;
  bag.failed_at = state.failed_at;
  bag.pruned = state.pruned;
  return bag;
}

}  // namespace kbc::upload
