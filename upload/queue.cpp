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

}  // namespace

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
    } else if (word == "stored") {
      state.stored = true;
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
  return folder_ / (name + std::string(kState));
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
  const int error = write_new(state_file(bag.filename().string()), bag, false);
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

std::vector<QueuedBag> UploadQueue::bags() const {
  std::vector<fs::path> files;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder_, error)) {
    if (entry.path().extension() == kState) {
      files.push_back(entry.path());
    }
  }
  std::ranges::sort(files);
  std::vector<QueuedBag> bags;
  for (const fs::path& file : files) {
    bags.push_back(queued(file));
  }
  return bags;
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
  return bag;
}

}  // namespace kbc::upload
