// A bag's last steps, the same for an offload's bag and for a set-aside one: its folders made
// read-only, its payload held against the files it lists and nothing else, its tag files written
// and read back, then renamed into place under the recorder's lock and made read-only itself.
// Nobody but the files' owners can change a bag once it is verified, and a bag someone wrote
// into while it was being verified is not verified.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "evidence/bag_info.h"
#include "evidence/bag_problem.h"
#include "evidence/file_io.h"
#include "evidence/store.h"

namespace kbc::evidence {

// A payload file as it was read back: its path under data/, its SHA-256 and size, the file.
struct PayloadFile {
  std::string path;
  std::string sha256;
  std::uint64_t size = 0;
  dev_t device = 0;
  ino_t inode = 0;
};

// A tag file besides bagit.txt, bag-info.txt and the manifests: its name and text.
using TagFile = std::pair<std::string, std::string>;

struct Finished {
  bool verified = false;
  std::filesystem::path path;  // where the bag is now
  std::string tagmanifest_sha256;
  std::vector<BagProblem> problems;
};

// Finishes the bag being written at `partial` as `final_path`, which must not exist. `info` gives
// bag-info.txt's text once the payload's size and the time of its verification are known.
// The record of its progress stays until the rename, so that a bag that cannot be renamed keeps
// what it holds for the next run. The caller holds the recorder's lock.
Finished finish_bag(
    const Store& store, const std::filesystem::path& partial,
    const std::filesystem::path& final_path, const std::vector<PayloadFile>& payload,
    const std::function<std::string(const PayloadOxum&, std::chrono::sys_seconds)>& info,
    const std::vector<TagFile>& more, StoreIo& io);

// rename() that never replaces: renameat2(RENAME_NOREPLACE), or where the file system refuses it
// (NFS: EINVAL), a plain rename onto a name that is not there. Only the lock's holder makes
// names of its recorder, so none can come between the look and the rename. 0, or the errno.
int rename_new(const std::filesystem::path& from, const std::filesystem::path& to, StoreIo& io);

}  // namespace kbc::evidence
