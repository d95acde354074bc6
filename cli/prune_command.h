// kbcctl prune: the bags the object store has held longer than keep-local leave the station,
// each checked at the store again first.
#pragma once

#include <chrono>

#include "cli/options.h"
#include "cli/run.h"
#include "upload/prune.h"

namespace kbc::cli {

// A line per bag removed (or, with --dry-run, that would be) and per bag kept with its reason;
// 0 when no bag old enough had to stay.
int prune(const Options& options, const upload::UploadQueue& queue, const upload::PruneRun& run,
          const Io& io);

}  // namespace kbc::cli
