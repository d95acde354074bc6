#include "offload/ledger.h"

#include "evidence/file_io.h"
#include "upload/queue.h"

namespace kbc::offload {

std::optional<console::OffloadFact> StoreLedger::newest_verified(std::string_view serial) {
  const std::optional<evidence::StoredBag> bag = store_.newest_offload(serial);
  if (!bag) {
    return std::nullopt;
  }
  const auto queued = upload::UploadQueue(store_).find(bag->name);
  // The tag manifest names every file of the bag by its hash: the erase's entry names it, so
  // that an audit can hold the bag against the journal's entry of its verification.
  evidence::StoreIo plain;
  std::vector<std::byte> buffer(64 << 10);
  const evidence::Hashed tags =
      evidence::hash_file(bag->path / "tagmanifest-sha256.txt", plain, buffer);
  return console::OffloadFact{bag->verified,      bag->files, bag->bytes, queued && queued->stored,
                              bag->path.string(), tags.sha256};
}

}  // namespace kbc::offload
