#include "cli/station_command.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <systemd/sd-daemon.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <thread>

#include "cli/json.h"
#include "console/printable.h"
#include "link/descriptor.h"
#include "offload/health.h"
#include "offload/ledger.h"
#include "station/arrivals.h"
#include "station/slot_state.h"
#include "station/station.h"

namespace kbc::cli {
namespace {

// SIGTERM and SIGINT ask the service to stop: blocked in every thread, heard on one of its own.
class StopOnSignal {
 public:
  explicit StopOnSignal(std::stop_source& stop) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, &previous_);
    signal_ = link::Descriptor(::signalfd(-1, &signals, SFD_CLOEXEC));
    thread_ = std::jthread([this, &stop](std::stop_token) {
      pollfd fds[2] = {{signal_.get(), POLLIN, 0}, {done_.get(), POLLIN, 0}};
      while (::poll(fds, 2, -1) < 0) {
      }
      if ((fds[0].revents & POLLIN) != 0) {
        // Taken, so that it is not delivered once the mask is given back.
        signalfd_siginfo heard{};
        [[maybe_unused]] const ssize_t n = ::read(signal_.get(), &heard, sizeof heard);
        stop.request_stop();
      }
    });
  }
  ~StopOnSignal() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(done_.get(), &one, sizeof one);
    thread_.join();
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  StopOnSignal(const StopOnSignal&) = delete;
  StopOnSignal& operator=(const StopOnSignal&) = delete;

 private:
  sigset_t previous_{};
  link::Descriptor signal_{-1};
  link::Descriptor done_{::eventfd(0, EFD_CLOEXEC)};
  std::jthread thread_;
};

std::string slot_json(const station::SlotState& slot, std::int64_t now) {
  const auto text = [](const std::string& value) {
    return value.empty() ? std::string("null") : json_string(value);
  };
  return "{\"port\":" + json_string(slot.port) + ",\"location\":" + json_string(slot.location) +
         ",\"serial\":" + text(slot.serial) + ",\"officer\":" + text(slot.officer) +
         ",\"unit\":" + text(slot.unit) + ",\"stage\":\"" +
         std::string(station::slot_stage_name(slot.stage)) +
         "\",\"files\":" + std::to_string(slot.files_done) +
         ",\"files_total\":" + std::to_string(slot.files_total) +
         ",\"bytes\":" + std::to_string(slot.bytes_done) +
         ",\"bytes_total\":" + std::to_string(slot.bytes_total) +
         ",\"rate\":" + std::to_string(static_cast<long long>(slot.rate)) +
         ",\"seconds_left\":" + (slot.seconds_left ? std::to_string(*slot.seconds_left) : "null") +
         ",\"result\":" + text(slot.result) +
         ",\"docked_seconds\":" + std::to_string(slot.docked_for(now)) +
         ",\"overdue\":" + (slot.overdue ? "true" : "false") +
         ",\"attention\":" + (slot.attention() ? "true" : "false") + "}";
}

std::string minutes_text(std::int64_t seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                static_cast<long long>(seconds % 60));
  return text;
}

// "1-2.3  KBC0001  000001 张三  复制中 3/7 2.1 MB/4.3 MB 12.0 MB/s 0:01  docked 0:42  ..."
std::string slot_line(const station::SlotState& slot, std::int64_t now) {
  std::string line = slot.port + "  " + (slot.serial.empty() ? "-" : slot.serial) + "  " +
                     (slot.officer.empty() ? "-" : slot.officer) + "  " +
                     std::string(station::slot_stage_text(slot.stage));
  if (slot.stage == station::SlotStage::copying || slot.stage == station::SlotStage::checking) {
    char progress[128];
    std::snprintf(progress, sizeof progress, " %llu/%llu %s/%s %.1f MB/s",
                  static_cast<unsigned long long>(slot.files_done),
                  static_cast<unsigned long long>(slot.files_total),
                  console::size_text(slot.bytes_done).c_str(),
                  console::size_text(slot.bytes_total).c_str(), slot.rate / 1e6);
    line += progress;
    if (slot.seconds_left) {
      line += " " + minutes_text(*slot.seconds_left);
    }
  }
  line += "  docked " + minutes_text(slot.docked_for(now));
  if (slot.overdue) {
    line += "  overdue";
  }
  if (!slot.result.empty()) {
    line += "  " + slot.result;
  }
  return line;
}

}  // namespace

int station_status(const Options& options, const Io& io) {
  const station::Drawer drawer = station::read_drawer(station::state_folder(options.simulate > 0));
  const std::int64_t now = station::epoch_seconds();
  bool attention = !drawer.running;
  for (const station::SlotState& slot : drawer.docked) {
    attention = attention || slot.attention();
  }
  if (options.json) {
    std::string json = "{\"running\":" + std::string(drawer.running ? "true" : "false");
    if (drawer.station) {
      json += ",\"pid\":" + std::to_string(drawer.station->pid) +
              ",\"slots\":" + std::to_string(drawer.station->slot_count) +
              ",\"store\":" + json_string(drawer.station->store) + ",\"low_space\":" +
              (drawer.station->low_space.empty() ? "null" : json_string(drawer.station->low_space));
    }
    json += ",\"docked\":[";
    for (std::size_t i = 0; i < drawer.docked.size(); ++i) {
      json += (i > 0 ? "," : "") + slot_json(drawer.docked[i], now);
    }
    io.out << json << "]}\n" << std::flush;
    return attention ? kFailed : kSucceeded;
  }
  if (!drawer.running) {
    io.out << "the station service is not running\n";
  } else if (drawer.station) {
    io.out << "the station service runs (pid " << drawer.station->pid << ", "
           << drawer.station->slot_count << " slots, store "
           << io.charset.from_utf8(drawer.station->store) << ")\n";
    if (!drawer.station->low_space.empty()) {
      io.out << io.charset.from_utf8(drawer.station->low_space) << '\n';
    }
  }
  for (const station::SlotState& slot : drawer.docked) {
    io.out << io.charset.from_utf8(slot_line(slot, now)) << '\n';
  }
  io.out << std::flush;
  return attention ? kFailed : kSucceeded;
}

int station(const Options& options, StationInputs inputs, const Io& io) {
  auto board = station::Board::open(station::state_folder(options.simulate > 0));
  if (auto* problem = std::get_if<std::string>(&board)) {
    io.err << io.charset.from_utf8("kbcctl: " + *problem) << '\n';
    return kFailed;
  }
  std::unique_ptr<station::Arrivals> arrivals;
  if (inputs.simulated != nullptr) {
    arrivals = std::make_unique<station::SimArrivals>(*inputs.simulated);
  } else {
    auto started = station::UdevArrivals::start();
    if (auto* problem = std::get_if<std::string>(&started)) {
      io.err << "kbcctl: cannot follow udev: " << *problem << '\n';
      return kFailed;
    }
    arrivals = std::move(std::get<0>(started));
  }
  offload::StoreLedger ledger(inputs.offload.store);
  const auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
  const offload::Health room = offload::store_room(inputs.station, inputs.offload.store, now);
  station::StationSettings settings{
      inputs.offload,
      &inputs.keys,
      inputs.profile,
      inputs.station.slot_count,
      &inputs.clock,
      inputs.station.erase,
      &ledger,
      inputs.station.overdue,
      &std::get<station::Board>(board),
      offload::note_low_space(room, inputs.offload.trail).value_or("")};
  std::mutex output;
  station::Station service(inputs.port, inputs.pause, *arrivals, std::move(settings));
  service.served = [&](const station::Served& served) {
    const std::lock_guard lock(output);
    io.out << (options.json
                   ? slot_json(served.slot, station::epoch_seconds())
                   : io.charset.from_utf8(slot_line(served.slot, station::epoch_seconds())))
           << '\n'
           << std::flush;
  };
  std::stop_source stop;
  const StopOnSignal signals(stop);
  if (options.once) {
    const std::vector<station::Served> ended = service.run_once(stop.get_token());
    if (ended.empty()) {
      io.err << "kbcctl: no recorder is plugged in\n";
      return kNoRecorder;
    }
    return std::ranges::all_of(ended, &station::Served::ok) ? kSucceeded : kFailed;
  }
  sd_notify(0, "READY=1");
  service.run(stop.get_token());
  sd_notify(0, "STOPPING=1");
  return kSucceeded;
}

}  // namespace kbc::cli
