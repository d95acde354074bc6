// kbcctl station: the station service, which takes every recorder plugged into the drawer
// through verify, the station profile and a verified offload; `--once` the recorders present
// now; `--status` what the running service's drawer shows.
#pragma once

#include <string>

#include "cli/options.h"
#include "cli/run.h"
#include "console/profile.h"
#include "offload/offload.h"
#include "offload/station_file.h"
#include "station/recorder_keys.h"

namespace kbc::cli {

struct StationInputs {
  link::Port& port;
  link::Pause& pause;
  sim::SimBus* simulated;  // the simulated bus, followed instead of udev
  offload::OffloadSettings offload;
  const offload::Station& station;
  const station::RecorderKeys& keys;
  std::optional<console::Profile> profile;
  console::Clock& clock;
};

// Runs until SIGTERM or SIGINT; with --once until each recorder present is done: 0 when every
// one was verified (or offloaded within the window), 4 when there was none, 1 otherwise.
int station(const Options& options, StationInputs inputs, const Io& io);

// 0 while the service runs and no slot needs attention, 1 otherwise.
int station_status(const Options& options, const Io& io);

}  // namespace kbc::cli
