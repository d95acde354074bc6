#include "offload/ledger.h"

#include "evidence/bag_check.h"
#include "upload/queue.h"

namespace kbc::offload {

std::optional<console::OffloadFact> StoreLedger::newest_verified(std::string_view serial) {
  const std::optional<evidence::StoredBag> bag = store_.newest_offload(serial);
  // A bag the station no longer keeps, once the object store held it long enough, still counts.
  std::optional<console::OffloadFact> pruned;
  for (const upload::QueuedBag& stored : upload::UploadQueue(store_).stored_bags()) {
    if (stored.pruned && stored.pruned->serial == serial &&
        (!pruned || stored.pruned->verified > pruned->when)) {
      pruned = console::OffloadFact{stored.pruned->verified, stored.pruned->files,
                                    stored.pruned->bytes,    true,
                                    stored.bag.string(),     stored.pruned->tagmanifest_sha256};
    }
  }
  if (!bag || (pruned && pruned->when > bag->verified)) {
    return pruned;
  }
  const auto queued = upload::UploadQueue(store_).find(bag->name);
  // The erase's entry names the tag manifest, so that an audit can hold the bag against the
  // journal's entry of its verification.
  return console::OffloadFact{
      bag->verified,      bag->files,
      bag->bytes,         queued && queued->stored,
      bag->path.string(), evidence::tagmanifest_sha256(bag->path).value_or("")};
}

}  // namespace kbc::offload
