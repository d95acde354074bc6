// Where a simulated recorder's disk appears: once the recorder at a place of the simulated bus has
// switched to mass storage, its sample disk is written as an image file into a folder of the
// user's cache and read from there through the same volume reader as a real disk.
#pragma once

#include <filesystem>

#include "offload/disk_watch.h"
#include "sim/sim_bus.h"

namespace kbc::offload {

// $XDG_CACHE_HOME/kbc-q7/simulated-disks, ~/.cache/... without it, else one under /tmp for the
// user.
std::filesystem::path simulated_disk_folder();

class SimDiskWatch final : public DiskWatch {
 public:
  SimDiskWatch(const sim::SimBus& bus, std::filesystem::path folder)
      : bus_(bus), folder_(std::move(folder)) {}

  // "sim:001/002" for a recorder of the bus at "001/002".
  std::optional<std::string> port_of(std::string_view location) override;
  // The image, once the recorder on the port is in mass-storage mode; the wait is a stop-aware
  // one in short steps, as the simulated recorder switches at once.
  WaitedDisk wait_for_disk(std::string_view port, std::chrono::milliseconds timeout,
                           std::stop_token stop) override;

 private:
  const sim::SimBus& bus_;
  std::filesystem::path folder_;
};

}  // namespace kbc::offload
