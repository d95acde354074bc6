// kbcctl offload and check: recordings off recorders into the station's evidence store, verified,
// with a progress line per recorder on a terminal and a receipt per recorder; and stored bags
// checked against their manifests and the journal's entry for each.
#pragma once

#include <optional>
#include <string>

#include "cli/options.h"
#include "cli/run.h"
#include "evidence/offload.h"
#include "evidence/upload.h"
#include "journal/audit_reader.h"
#include "link/secret.h"

namespace kbc::cli {

// Offloads the recorders the options choose, or the disk --from names, into the bag store of
// `settings`. `password` is the recorders' (none with --from). Returns the exit status.
int offload(const Options& options, const std::optional<std::string>& serial, link::Link link,
            const std::optional<link::Secret>& password, const evidence::OffloadSettings& settings,
            const Io& io);

// Checks each bag; exit 0 only when every one is intact and matches the journal's entry.
int check(const Options& options, journal::AuditSource* source, const Io& io);

// Uploads the queued bags once: a line per bag, 0 when none failed.
int upload(const Options& options, const evidence::UploadQueue& queue,
           const evidence::UploadRun& run, const Io& io);

// check --remote: each bag's objects at the store checked again as the station verifies them.
int check_remote(const Options& options, const evidence::UploadQueue& queue,
                 const evidence::UploadRun& run, const Io& io);

}  // namespace kbc::cli
