// kbcctl offload: recordings off recorders into the station's evidence store, verified, with a
// progress line per recorder on a terminal and a receipt per recorder.
#pragma once

#include <optional>
#include <string>

#include "cli/options.h"
#include "cli/run.h"
#include "link/secret.h"
#include "offload/offload.h"

namespace kbc::cli {

// Offloads the recorders the options choose, or the disk --from names, into the bag store of
// `settings`. `password` is the recorders' (none with --from). Returns the exit status.
int offload(const Options& options, const std::optional<std::string>& serial, link::Link link,
            const std::optional<link::Secret>& password, const offload::OffloadSettings& settings,
            const Io& io);

}  // namespace kbc::cli
