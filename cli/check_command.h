// kbcctl check: stored bags held against their manifests and the journal's entry of their
// verification; with --remote, their objects at the object store against what the upload noted.
#pragma once

#include "cli/options.h"
#include "cli/run.h"
#include "journal/audit_reader.h"
#include "upload/drain.h"

namespace kbc::cli {

// Checks each bag: 0 when every one is intact and matches the journal's entry, 1 when one is
// damaged, kUnconfirmed when all are intact but the journal cannot confirm one.
int check(const Options& options, journal::AuditSource* source, const Io& io);

// check --remote: each bag's objects at the store checked again as the station verifies them.
int check_remote(const Options& options, const upload::UploadQueue& queue,
                 const upload::UploadRun& run, const Io& io);

}  // namespace kbc::cli
