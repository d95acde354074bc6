// The profile benchmark: a profile of all eight settings and both unit fields applied to 1, 4 and
// 16 simulated recorders at once, with the real 100 ms pauses, as kbcctl --all applies it (one
// scan, then each recorder's serial number and profile on a thread of its own). Prints for each N
// the wall time, its ratio to one recorder's, and the protocol's floor: the scan's two pauses and
// one pause per command of a recorder. Run by hand, never by CTest: it takes real time.
#include <chrono>
#include <cstdio>
#include <string>
#include <variant>
#include <vector>

#include "console/apply.h"
#include "link/recorders.h"
#include "link/trace.h"
#include "sim/sim_bus.h"
#include "station_profile.h"

namespace {

using Clock = std::chrono::steady_clock;
using kbc::console::Receipt;

struct Run {
  double milliseconds;
  std::size_t commands;  // of one recorder, get_sn included
  bool all_ok;
};

Run apply_to(std::size_t recorders, const kbc::console::Profile& profile) {
  kbc::sim::SimBus bus(recorders);
  kbc::link::RealPause pause;
  kbc::link::Link link{bus, pause};
  kbc::console::SystemClock clock;
  const kbc::link::Secret password("888888");

  const auto start = Clock::now();
  std::vector<kbc::console::Target> targets;
  for (kbc::link::UsbDevice& device : kbc::link::scan_recorders(link)) {
    targets.push_back({std::move(device), std::nullopt});
  }
  bool all_ok = targets.size() == recorders;
  kbc::console::apply_to_recorders(link, targets, profile, password, clock,
                                   [&](Receipt receipt) { all_ok = all_ok && receipt.ok(); });
  const std::chrono::duration<double, std::milli> took = Clock::now() - start;
  return {took.count(), bus.recorder(0).payloads().size(), all_ok};
}

}  // namespace

int main() {
  kbc::link::set_trace_sink({});
  auto parsed = kbc::console::parse_profile(kbc::testing::kStationProfile);
  if (const auto* error = std::get_if<kbc::console::ProfileError>(&parsed)) {
    const kbc::console::ProfileProblem& first = error->problems.front();
    std::fprintf(stderr, "profile line %zu: %s\n", first.line, first.said.english.c_str());
    return 1;
  }
  const auto& profile = std::get<kbc::console::Profile>(parsed);

  std::printf("%10s %10s %12s %10s %14s\n", "recorders", "wall ms", "ratio to 1", "floor ms",
              "wall / floor");
  double one = 0;
  double sixteen = 0;
  double one_floor = 0;
  bool all_ok = true;
  for (const std::size_t n : {1, 4, 16}) {
    const Run run = apply_to(n, profile);
    all_ok = all_ok && run.all_ok;
    const double floor = 200.0 + 100.0 * static_cast<double>(run.commands);
    if (n == 1) {
      one = run.milliseconds;
      one_floor = floor;
    }
    if (n == 16) {
      sixteen = run.milliseconds;
    }
    std::printf("%10zu %10.1f %12.3f %10.0f %14.3f\n", n, run.milliseconds, run.milliseconds / one,
                floor, run.milliseconds / floor);
  }
  std::printf("16 recorders within 1.25 x one: %s (%.3f)\n", sixteen <= 1.25 * one ? "yes" : "no",
              sixteen / one);
  std::printf("one recorder within 1.05 x its floor: %s (%.3f)\n",
              one <= 1.05 * one_floor ? "yes" : "no", one / one_floor);
  if (!all_ok) {
    std::printf("a recorder did not take every step\n");
    return 1;
  }
  return 0;
}
