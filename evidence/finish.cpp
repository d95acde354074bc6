#include "evidence/finish.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <system_error>

#include "evidence/manifest.h"
#include "evidence/progress.h"
#include "evidence/sha256.h"
#include "link/descriptor.h"

namespace kbc::evidence {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kTagManifest = "tagmanifest-sha256.txt";
constexpr std::size_t kChunkBytes = 1 << 20;

std::string error_text(int error) {
  return std::strerror(error);
}

struct Node {
  dev_t device = 0;
  ino_t inode = 0;
};

std::optional<Node> node_of(const fs::path& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) {
    return std::nullopt;
  }
  return Node{status.st_dev, status.st_ino};
}

// Nobody may write the file any more: its mode set, or, where it is not ours to set, found so.
bool read_only(const fs::path& file) {
  struct stat status {};
  if (::lstat(file.c_str(), &status) != 0) {
    return false;
  }
  if ((status.st_mode & 07777) == kSealedFile) {
    return true;
  }
  return ::chmod(file.c_str(), kSealedFile) == 0 || (status.st_mode & 0222) == 0;
}

// A tag file written whole, read-only from the start, and synced.
int write_tag_file(const fs::path& path, std::string_view text, StoreIo& io, Node& node) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    return errno;
  }
  const link::Descriptor fd(
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, kSealedFile));
  struct stat status {};
  if (fd.get() < 0 || ::fchmod(fd.get(), kSealedFile) != 0) {
    return errno;
  }
  if (const int error = write_all(fd.get(), std::as_bytes(std::span(text)), io); error != 0) {
    return error;
  }
  if (::fsync(fd.get()) != 0 || ::fstat(fd.get(), &status) != 0) {
    return errno;
  }
  node = {status.st_dev, status.st_ino};
  return 0;
}

class Finisher {
 public:
  Finisher(const Store& store, const fs::path& partial, const fs::path& final_path, StoreIo& io)
      : store_(store), partial_(partial), final_(final_path), io_(io), buffer_(kChunkBytes) {}

  Finished run(const std::vector<PayloadFile>& payload,
               const std::function<std::string(const PayloadOxum&, std::chrono::sys_seconds)>& info,
               const std::vector<TagFile>& more) {
    const PayloadTree tree = walk_payload(partial_ / "data");
    if (!seal_payload(tree, payload)) {
      unseal(tree);
      return std::move(finished_);
    }
    PayloadOxum oxum;
    std::string manifest;
    for (const PayloadFile& file : payload) {
      manifest += manifest_line(file.sha256, "data/" + file.path);
      oxum.bytes += file.size;
      ++oxum.files;
    }
    const auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    std::vector<TagFile> tags{
        {"bagit.txt", "BagIt-Version: 1.0\nTag-File-Character-Encoding: UTF-8\n"},
        {"bag-info.txt", info(oxum, now)},
        {"manifest-sha256.txt", manifest}};
    tags.insert(tags.end(), more.begin(), more.end());
    std::string tagmanifest;
    for (const auto& [name, text] : tags) {
      tagmanifest += manifest_line(sha256_hex(text), name);
    }
    tags.emplace_back(kTagManifest, tagmanifest);
    if (!write_tags(tags)) {
      unseal(tree);
      return std::move(finished_);
    }
    if (const int error = fsync_folder(partial_); error != 0) {
      return fail(tree, BagProblem::Kind::store, partial_.string(), error);
    }
    if (const int error = rename_new(partial_, final_, io_); error != 0) {
      return fail(tree, BagProblem::Kind::store, final_.string(), error);
    }
    // The record of the copy goes only now, so that a bag that could not be renamed keeps it.
    if (::unlink((final_ / kProgressFile).c_str()) != 0 && errno != ENOENT) {
      return unverify(BagProblem::Kind::store, std::string(kProgressFile), errno);
    }
    if (::chmod(final_.c_str(), kSealedFolder) != 0) {
      return unverify(BagProblem::Kind::store, final_.string(), errno);
    }
    if (!as_written(tags)) {
      return unverify(BagProblem::Kind::changed, final_.string(), 0);
    }
    if (const int error = fsync_folder(final_); error != 0) {
      return unverify(BagProblem::Kind::store, final_.string(), error);
    }
    if (const int error = fsync_folder(final_.parent_path()); error != 0) {
      return unverify(BagProblem::Kind::store, final_.parent_path().string(), error);
    }
    finished_.verified = true;
    finished_.path = final_;
    finished_.tagmanifest_sha256 = sha256_hex(tagmanifest);
    return std::move(finished_);
  }

 private:
  void problem(BagProblem::Kind kind, std::string path, int error) {
    finished_.problems.push_back({kind, std::move(path), error != 0 ? error_text(error) : ""});
  }

  // The payload's folders made read-only, then the files held against the list: each listed file
  // there as it was read back, nothing else, nothing that anyone may write.
  bool seal_payload(const PayloadTree& tree, const std::vector<PayloadFile>& payload) {
    if (tree.error) {
      finished_.problems.push_back({BagProblem::Kind::store, "data", *tree.error});
      return false;
    }
    for (const fs::path& folder : tree.folders) {
      if (::chmod(folder.c_str(), kSealedFolder) != 0) {
        problem(BagProblem::Kind::store, folder.string(), errno);
        return false;
      }
    }
    data_node_ = node_of(partial_ / "data");
    for (const std::string& odd : tree.odd) {
      finished_.problems.push_back({BagProblem::Kind::changed, odd, "not a regular file"});
    }
    std::set<std::string> listed;
    for (const PayloadFile& file : payload) {
      listed.insert(file.path);
      const auto found = tree.files.find(file.path);
      const std::optional<Node> node =
          found == tree.files.end() ? std::nullopt : node_of(found->second);
      if (!node || node->device != file.device || node->inode != file.inode) {
        finished_.problems.push_back(
            {BagProblem::Kind::changed, file.path, "not the file that was read back"});
      } else if (!read_only(found->second)) {
        problem(BagProblem::Kind::store, file.path, errno);
      }
    }
    for (const auto& [path, where] : tree.files) {
      if (!listed.count(path)) {
        finished_.problems.push_back({BagProblem::Kind::changed, path, "not listed in the bag"});
      }
    }
    for (const fs::path& folder : tree.folders) {
      if (const int error = fsync_folder(folder); error != 0) {
        problem(BagProblem::Kind::store, folder.string(), error);
      }
    }
    return finished_.problems.empty();
  }

  bool write_tags(const std::vector<TagFile>& tags) {
    for (const auto& [name, text] : tags) {
      Node node;
      if (const int error = write_tag_file(partial_ / name, text, io_, node); error != 0) {
        problem(BagProblem::Kind::store, name, error);
        return false;
      }
      written_[name] = node;
    }
    // Each read back from the disk as it was written.
    for (const auto& [name, text] : tags) {
      const Hashed hashed = hash_file(partial_ / name, io_, buffer_);
      if (hashed.error != 0) {
        problem(BagProblem::Kind::store, name, hashed.error);
      } else if (hashed.sha256 != sha256_hex(text)) {
        finished_.problems.push_back({BagProblem::Kind::differs, name, {}});
      }
    }
    return finished_.problems.empty();
  }

  // Now that nobody may add to the bag's folder: it holds the tag files written and the payload's
  // folder, and nothing else.
  bool as_written(const std::vector<TagFile>& tags) const {
    std::error_code error;
    std::size_t entries = 0;
    for (const auto& entry : fs::directory_iterator(final_, error)) {
      (void)entry;
      ++entries;
    }
    const std::optional<Node> data = node_of(final_ / "data");
    if (error || entries != tags.size() + 1 || !data || !data_node_ ||
        data->device != data_node_->device || data->inode != data_node_->inode) {
      return false;
    }
    for (const auto& [name, node] : written_) {
      const std::optional<Node> now = node_of(final_ / name);
      if (!now || now->device != node.device || now->inode != node.inode) {
        return false;
      }
    }
    return true;
  }

  // The payload's folders writable again, for the next run to go on with.
  void unseal(const PayloadTree& tree) const {
    for (const fs::path& folder : tree.folders) {
      ::chmod(folder.c_str(), store_.folder_mode());
    }
  }

  Finished fail(const PayloadTree& tree, BagProblem::Kind kind, std::string path, int error) {
    problem(kind, std::move(path), error);
    unseal(tree);
    return std::move(finished_);
  }

  // Renamed, but not to be called verified: back to its ".partial" name.
  Finished unverify(BagProblem::Kind kind, std::string path, int error) {
    problem(kind, std::move(path), error);
    ::chmod(final_.c_str(), store_.folder_mode());
    if (rename_new(final_, partial_, io_) == 0) {
      unseal(walk_payload(partial_ / "data"));
    }
    return std::move(finished_);
  }

  const Store& store_;
  const fs::path& partial_;
  const fs::path& final_;
  StoreIo& io_;
  std::vector<std::byte> buffer_;
  std::optional<Node> data_node_;
  std::map<std::string, Node> written_;
  Finished finished_;
};

}  // namespace

int rename_new(const fs::path& from, const fs::path& to, StoreIo& io) {
  if (io.rename_noreplace(from.c_str(), to.c_str()) == 0) {
    return 0;
  }
  if (errno != EINVAL && errno != ENOSYS) {
    return errno;
  }
  struct stat there {};
  if (::lstat(to.c_str(), &there) == 0) {
    return EEXIST;
  }
  if (errno != ENOENT) {
    return errno;
  }
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

Finished finish_bag(
    const Store& store, const fs::path& partial, const fs::path& final_path,
    const std::vector<PayloadFile>& payload,
    const std::function<std::string(const PayloadOxum&, std::chrono::sys_seconds)>& info,
    const std::vector<TagFile>& more, StoreIo& io) {
  return Finisher(store, partial, final_path, io).run(payload, info, more);
}

}  // namespace kbc::evidence
