// kbcctl apply PROFILE: the station profile read and checked before anything is sent, the
// recorders chosen from one scan, the profile applied to all of them at once, and a receipt
// printed for each as it finishes.
#pragma once

#include <optional>
#include <string>

#include "cli/options.h"
#include "cli/run.h"
#include "console/audit.h"
#include "console/profile.h"
#include "link/secret.h"

namespace kbc::cli {

// Applies the profile to the recorder the options choose (--device, --serial given here in UTF-8,
// the only one) or to every one (--all), with an entry per recorder in `trail` where there is
// one. Returns the exit status.
int apply(const Options& options, const std::optional<std::string>& serial,
          const console::Profile& profile, link::Link link, const link::Secret& password,
          console::Clock& clock, const Io& io, console::AuditTrail* trail);

}  // namespace kbc::cli
