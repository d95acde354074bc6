#include "offload/sim_disk_watch.h"

#include <unistd.h>

#include <cctype>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "link/trace.h"
#include "sim/sample_disk.h"

namespace kbc::offload {
namespace {

constexpr std::string_view kPrefix = "sim:";
constexpr auto kStep = std::chrono::milliseconds(20);

}  // namespace

std::filesystem::path simulated_disk_folder() {
  if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache != nullptr && *cache == '/') {
    return std::filesystem::path(cache) / "kbc-q7" / "simulated-disks";
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
    return std::filesystem::path(home) / ".cache" / "kbc-q7" / "simulated-disks";
  }
  return std::filesystem::temp_directory_path() /
         ("kbc-q7-simulated-disks-" + std::to_string(::getuid()));
}

std::optional<std::string> SimDiskWatch::port_of(std::string_view location) {
  if (!bus_.has_recorder_at(location)) {
    return std::nullopt;
  }
  return std::string(kPrefix) + std::string(location);
}

WaitedDisk SimDiskWatch::wait_for_disk(std::string_view port, std::chrono::milliseconds timeout,
                                       std::stop_token stop) {
  if (!port.starts_with(kPrefix)) {
    return {};
  }
  const std::string location(port.substr(kPrefix.size()));
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::mutex mutex;
  std::condition_variable_any wake;
  for (;;) {
    if (const std::optional<sim::SimBus::Switched> switched = bus_.switched_at(location)) {
      std::string name = switched->serial;
      for (char& c : name) {
        c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      }
      const std::filesystem::path image =
          folder_ / (name + (switched->erased ? "-erased" : "") + ".img");
      if (const auto problem = sim::write_sample_disk(image, switched->serial, switched->erased)) {
        link::tracef("Cannot write the simulated disk %s: %s", image.c_str(), problem->c_str());
        return {};
      }
      return {image.string(), {}};
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline || stop.stop_requested()) {
      return {};
    }
    std::unique_lock lock(mutex);
    wake.wait_for(lock, stop, std::min<std::chrono::steady_clock::duration>(kStep, deadline - now),
                  [] { return false; });
  }
}

}  // namespace kbc::offload
