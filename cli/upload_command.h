// kbcctl upload: the queue mended, then the bags it holds sent to the object store once.
#pragma once

#include "cli/options.h"
#include "cli/run.h"
#include "upload/drain.h"

namespace kbc::cli {

// A line per bag; 0 when none failed.
int upload(const Options& options, const upload::UploadQueue& queue, const upload::UploadRun& run,
           const Io& io);

}  // namespace kbc::cli
