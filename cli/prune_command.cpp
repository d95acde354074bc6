#include "cli/prune_command.h"

#include <ostream>

#include "cli/json.h"
#include "console/printable.h"

namespace kbc::cli {

int prune(const Options& options, const upload::UploadQueue& queue, const upload::PruneRun& run,
          const Io& io) {
  bool none_kept = true;
  for (const upload::Pruned& bag : upload::prune(queue, run)) {
    // A bag not stored yet is the upload's business, not a failure of the prune.
    none_kept = none_kept && (bag.removed || bag.kept == "not stored at the object store yet");
    if (options.json) {
      io.out << "{\"bag\":" << json_string(bag.path.string())
             << ",\"removed\":" << (bag.removed && !run.dry_run ? "true" : "false")
             << ",\"would_remove\":" << (bag.removed && run.dry_run ? "true" : "false")
             << ",\"kept\":" << json_or_null(bag.kept) << "}\n";
      continue;
    }
    io.out << io.charset.from_utf8(
                  console::printable(bag.path.string()) + ": " +
                  (!bag.removed  ? "kept: " + console::printable(bag.kept.value_or(""))
                   : run.dry_run ? "would be removed (" + std::to_string(bag.listed.size()) +
                                       " objects checked at the object store)"
                                 : "removed (" + std::to_string(bag.listed.size()) +
                                       " objects checked at the object store)"))
           << '\n';
  }
  io.out << std::flush;
  return none_kept ? kSucceeded : kFailed;
}

}  // namespace kbc::cli
