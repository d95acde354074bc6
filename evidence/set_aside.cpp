#include "evidence/set_aside.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "evidence/manifest.h"
#include "evidence/progress.h"
#include "link/descriptor.h"

namespace kbc::evidence {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kRecordStart = "kbc-set-aside 1\n";
constexpr std::size_t kChunkBytes = 1 << 20;

// "file STATE SHA256 SIZE REASON PATH", the record's line of a file and the tag file's.
std::string record_line(const SetAsideFile& file) {
  return std::string("file ") + (file.whole ? "whole " : "incomplete ") + file.sha256 + " " +
         std::to_string(file.size) + " " + file.reason + " " + manifest_path(file.path) + "\n";
}

std::map<std::string, SetAsideFile> read_record(const fs::path& file) {
  std::map<std::string, SetAsideFile> files;
  std::ifstream in(file, std::ios::binary);
  std::string line;
  if (!std::getline(in, line) || line + "\n" != kRecordStart) {
    return files;
  }
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string kind, state, encoded;
    SetAsideFile entry;
    if (!(words >> kind >> state >> entry.sha256 >> entry.size >> entry.reason) || kind != "file" ||
        words.get() != ' ') {
      continue;
    }
    std::getline(words, encoded);
    if (auto path = decoded_manifest_path(encoded); path && !path->empty()) {
      entry.whole = state == "whole";
      entry.path = *path;
      files[*path] = std::move(entry);
    }
  }
  return files;
}

std::string tag_text(const std::vector<SetAsideFile>& files) {
  std::string text = "# path\tstate\tsize\tsha256\treason\n";
  for (const SetAsideFile& file : files) {
    text += manifest_path(file.path) + "\t" + (file.whole ? "whole" : "incomplete") + "\t" +
            std::to_string(file.size) + "\t" + file.sha256 + "\t" + file.reason + "\n";
  }
  return text;
}

// The bag's files as they are now, each as its record says, verified; the problems of those
// that cannot be read.
SetAsideBag finish(const Store& store, const fs::path& partial, const BagInfo& info,
                   const std::map<std::string, SetAsideFile>& recorded, StoreIo& io) {
  SetAsideBag bag;
  bag.path = partial;
  std::string name = partial.filename().string();
  bag.name = name.substr(0, name.size() - kPartial.size());
  std::vector<PayloadFile> payload;
  std::vector<SetAsideFile> listed;
  std::vector<std::byte> buffer(kChunkBytes);
  std::map<std::string, int> froms;
  const PayloadTree tree = walk_payload(partial / "data");
  for (const auto& [path, where] : tree.files) {
    const Hashed hashed = hash_file(where, io, buffer);
    if (hashed.error != 0) {
      bag.problems.push_back({BagProblem::Kind::store, path, std::strerror(hashed.error)});
      continue;
    }
    const auto record = recorded.find(path);
    SetAsideFile entry = record != recorded.end() ? record->second : SetAsideFile{};
    // A file whose bytes are no longer those recorded is kept for what it is now.
    entry.whole = entry.whole && entry.sha256 == hashed.sha256;
    if (record == recorded.end()) {
      entry.reason = "unrecorded";
    }
    entry.path = path;
    entry.sha256 = hashed.sha256;
    entry.size = hashed.bytes;
    listed.push_back(entry);
    payload.push_back({path, hashed.sha256, hashed.bytes, hashed.device, hashed.inode});
    ++froms[path.substr(0, path.find('/'))];
    ++bag.files;
    bag.bytes += hashed.bytes;
  }
  if (!bag.problems.empty()) {
    return bag;
  }
  if (payload.empty()) {
    // Begun and cut short before any file came: nothing to keep.
    std::error_code removed;
    fs::remove(partial / kProgressFile, removed);
    fs::remove(partial / "data", removed);
    fs::remove(partial, removed);
    return bag;
  }
  std::string from;
  for (const auto& [earlier, count] : froms) {
    from += (from.empty() ? "" : " ") + earlier;
  }
  const Labels more{
      {"Set-Aside-From", from},
      {"Set-Aside-Reason",
       "files of offloads cut short that the recorder no longer held as they were when its "
       "offload went on; set-aside-files.txt says of each whether it was stored whole and why"}};
  const Finished finished = finish_bag(
      store, partial, partial.parent_path() / bag.name, payload,
      [&](const PayloadOxum& oxum, std::chrono::sys_seconds verified) {
        return bag_info_text(info, more, oxum, verified);
      },
      {{"set-aside-files.txt", tag_text(listed)}}, io);
  bag.problems = finished.problems;
  bag.verified = finished.verified;
  if (finished.verified) {
    bag.path = finished.path;
    bag.tagmanifest_sha256 = finished.tagmanifest_sha256;
  }
  return bag;
}

}  // namespace

SetAsideBag set_aside(const Store& store, const fs::path& folder, const BagInfo& info,
                      std::chrono::sys_seconds started, const std::vector<SetAsideFile>& files,
                      StoreIo& io) {
  SetAsideBag bag;
  const auto made = store.make_new_bag(folder, started, [&](std::chrono::sys_seconds when) {
    return Store::set_aside_name(info.serial, when);
  });
  if (const int* error = std::get_if<int>(&made)) {
    bag.name = Store::set_aside_name(info.serial, started);
    bag.path = folder / (bag.name + std::string(kPartial));
    bag.problems.push_back({BagProblem::Kind::store, bag.path.string(), std::strerror(*error)});
    return bag;
  }
  bag.name = std::get<std::string>(made);
  const fs::path partial = folder / (bag.name + std::string(kPartial));
  bag.path = partial;
  const fs::path data = partial / "data";
  std::string record(kRecordStart);
  for (const SetAsideFile& file : files) {
    record += record_line(file);
  }
  // The record first, then the files: a crash between the two leaves them where they were, or
  // here with their record.
  {
    const link::Descriptor fd(::open((partial / kProgressFile).c_str(),
                                     O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0640));
    if (fd.get() < 0 || ::fchmod(fd.get(), 0640) != 0) {
      bag.problems.push_back(
          {BagProblem::Kind::store, std::string(kProgressFile), std::strerror(errno)});
      return bag;
    }
    if (const int error = append_synced(fd.get(), record); error != 0) {
      bag.problems.push_back(
          {BagProblem::Kind::store, std::string(kProgressFile), std::strerror(error)});
      return bag;
    }
  }
  if (const int error = store.make_folder(data); error != 0) {
    bag.problems.push_back({BagProblem::Kind::store, data.string(), std::strerror(error)});
    return bag;
  }
  std::map<std::string, SetAsideFile> recorded;
  for (const SetAsideFile& file : files) {
    const fs::path to = data / file.path;
    int error = store.make_folders(data, fs::path(file.path).parent_path());
    if (error == 0) {
      error = place_file(file.from, to, file.sha256, io);
    }
    if (error != 0) {
      bag.problems.push_back({BagProblem::Kind::store, file.path, std::strerror(error)});
      return bag;
    }
    recorded[file.path] = file;
  }
  return finish(store, partial, info, recorded, io);
}

SetAsideBag finish_set_aside(const Store& store, const fs::path& partial, const BagInfo& info,
                             StoreIo& io) {
  return finish(store, partial, info, read_record(partial / kProgressFile), io);
}

}  // namespace kbc::evidence
