// A bag's upload as the audit trail keeps it: stored, with every object's key, version and
// SHA-256 and the retention asked, or why not.
#pragma once

#include "console/audit.h"
#include "upload/drain.h"
#include "upload/prune.h"
#include "upload/settings.h"

namespace kbc::offload {

console::AuditEntry upload_entry(const upload::Uploaded& bag,
                                 const upload::UploadSettings& settings);

// A bag removed from the station once the object store held it: its objects and versions, and
// its tag manifest's SHA-256, for an audit to hold against the object store's copy.
console::AuditEntry prune_entry(const upload::Pruned& bag, const upload::UploadSettings& settings);

}  // namespace kbc::offload
