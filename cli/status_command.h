// kbcctl status: how the station stands, as text, JSON or Prometheus's text exposition format.
#pragma once

#include <chrono>

#include "cli/options.h"
#include "cli/run.h"
#include "offload/health.h"

namespace kbc::cli {

// 0 when nothing needs attention, 1 when something does.
int status(const Options& options, const offload::Health& health, const Io& io);

// The health as one JSON object.
std::string health_json(const offload::Health& health);

}  // namespace kbc::cli
