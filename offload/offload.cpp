#include "offload/offload.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <mutex>
#include <thread>

#include "console/disk_switch.h"
#include "console/erase_guard.h"
#include "console/messages.h"
#include "console/offload_messages.h"
#include "console/printable.h"
#include "journal/journal_trail.h"
#include "link/recorders.h"
#include "link/trace.h"

namespace kbc::offload {
namespace {

using Clock = std::chrono::steady_clock;
// Progress is told at most this often; a change of stage at once.
constexpr auto kStatusEvery = std::chrono::milliseconds(200);

std::optional<std::string> field_text(const link::IdentityRecord& record,
                                      link::IdentityField field) {
  const std::string text = record.field(field).to_utf8();
  return text.empty() ? std::nullopt : std::optional(text);
}

evidence::Officer officer_of(const link::IdentityRecord& record) {
  return {field_text(record, link::IdentityField::user_number),
          field_text(record, link::IdentityField::user_name),
          field_text(record, link::IdentityField::unit_number),
          field_text(record, link::IdentityField::unit_name)};
}

std::string host_name() {
  char name[256] = {};
  return ::gethostname(name, sizeof name - 1) == 0 ? name : "unknown";
}

std::optional<std::string> printable(const std::optional<std::string>& text) {
  return text ? std::optional(console::printable(*text)) : std::nullopt;
}

// What bag-info.txt says of the offload, each text one line of plain text.
evidence::BagInfo bag_info(const Offloaded& receipt, const std::string& tool) {
  const evidence::Officer& officer = receipt.officer;
  return {console::printable(receipt.serial),
          {printable(officer.user_number), printable(officer.user_name),
           printable(officer.unit_number), printable(officer.unit_name)},
          console::printable(host_name()),
          console::printable(journal::real_user_name()),
          console::printable(tool)};
}

// The trail as the recorders' threads share it: asked once whether it keeps entries, written one
// entry at a time.
class SharedTrail {
 public:
  explicit SharedTrail(console::AuditTrail* trail)
      : trail_(trail != nullptr && trail->writable() ? trail : nullptr) {}

  void write(const console::AuditEntry& entry) {
    if (trail_ != nullptr) {
      const std::lock_guard lock(mutex_);
      trail_->write(entry);
    }
  }

 private:
  console::AuditTrail* trail_;
  std::mutex mutex_;
};

std::vector<std::pair<std::string, std::string>> bag_fields(const std::filesystem::path& path,
                                                            const std::string& name,
                                                            std::uint64_t files,
                                                            std::uint64_t bytes,
                                                            const std::string& tagmanifest) {
  return {{"KBC_BAG", path.string()},
          {"KBC_BAG_NAME", name},
          {"KBC_FILES", std::to_string(files)},
          {"KBC_BYTES", std::to_string(bytes)},
          {"KBC_TAGMANIFEST_SHA256", tagmanifest}};
}

// One recorder's run, from the disk on: status, the bag, its entries.
class Run {
 public:
  Run(std::size_t index, const OffloadSettings& settings, const OffloadEvents& events,
      SharedTrail& trail, Offloaded& receipt)
      : index_(index), settings_(settings), events_(events), trail_(trail), receipt_(receipt) {}

  void tell(Stage stage) {
    status_.stage = stage;
    status_.serial = receipt_.serial;
    if (events_.status) {
      events_.status(index_, status_);
    }
    told_ = Clock::now();
  }

  void enter(std::string_view action, console::AuditOutcome outcome, std::string value,
             std::vector<std::string> report,
             std::vector<std::pair<std::string, std::string>> fields = {}) {
    trail_.write({action, std::move(value), receipt_.location,
                  receipt_.serial.empty() ? std::nullopt : std::optional(receipt_.serial), outcome,
                  std::move(report), false, std::move(fields)});
  }

  // Ends the run before any bag.
  void end(Stage stage, std::string report, std::string_view action,
           console::AuditOutcome outcome) {
    receipt_.stage = stage;
    receipt_.report = std::move(report);
    enter(action, outcome, {}, {*receipt_.report});
    tell(stage);
  }

  void bag(const std::string& disk, const evidence::RecorderLock& lock, std::stop_token stop) {
    auto opened = evidence::open_recorder_files(disk);
    if (auto* problem = std::get_if<std::string>(&opened)) {
      receipt_.report = std::string(console::msg::offload_disk_unreadable) + *problem;
      receipt_.stage = Stage::failed;
      enter("offload-bag", console::AuditOutcome::failed, disk, {*receipt_.report});
      tell(receipt_.stage);
      return;
    }
    evidence::RecorderFiles& files = *std::get<0>(opened);
    for (const evidence::RecordedFile& file : files.files()) {
      status_.bytes_total += file.size;
    }
    status_.files_total = files.files().size();
    evidence::BagEvents bag_events;
    Clock::time_point first{};
    bag_events.started = [&](const std::filesystem::path&, bool) {
      first = Clock::now();
      tell(Stage::copying);
    };
    bag_events.progress = [&](std::uint64_t bytes) {
      status_.bytes_done = bytes;
      status_.copying = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - first);
      if (Clock::now() - told_ >= kStatusEvery) {
        tell(status_.stage);
      }
    };
    bag_events.file_done = [&](const evidence::FileDone& done) {
      ++status_.files_done;
      enter("offload-file", console::AuditOutcome::ok, done.file.path,
            {done.sha256 + " " + std::to_string(done.file.size) + (done.kept ? " kept" : "")},
            {{"KBC_PATH", done.file.path},
             {"KBC_SIZE", std::to_string(done.file.size)},
             {"KBC_SHA256", done.sha256}});
      if (events_.file_done) {
        events_.file_done(index_, done);
      }
    };
    bag_events.verifying = [&] { tell(Stage::verifying); };
    evidence::StoreIo plain;
    const auto started = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    receipt_.bag = evidence::write_bag(files, settings_.store, lock,
                                       bag_info(receipt_, settings_.tool), started, bag_events,
                                       stop, settings_.io != nullptr ? *settings_.io : plain);
    const evidence::BagOutcome& bag = receipt_.bag;
    for (const evidence::SetAsideBag& aside : bag.set_aside) {
      enter("offload-set-aside",
            aside.verified ? console::AuditOutcome::ok : console::AuditOutcome::failed,
            aside.path.string(), evidence::english_lines(aside.problems),
            bag_fields(aside.path, aside.name, aside.files, aside.bytes, aside.tagmanifest_sha256));
      if (aside.verified) {
        queue(aside.path);
      }
    }
    if (bag.verified) {
      queue(bag.path);
    }
    receipt_.stage = bag.verified                            ? Stage::verified
                     : bag.cancelled && bag.problems.empty() ? Stage::cancelled
                                                             : Stage::failed;
    const console::AuditOutcome outcome =
        receipt_.stage == Stage::verified    ? console::AuditOutcome::ok
        : receipt_.stage == Stage::cancelled ? console::AuditOutcome::cancelled
                                             : console::AuditOutcome::failed;
    enter("offload-bag", outcome, bag.path.string(), receipt_.lines(),
          bag_fields(bag.path, bag.name, bag.files, bag.bytes, bag.tagmanifest_sha256));
    tell(receipt_.stage);
  }

 private:
  // A verified bag waits for the object store; a bag not queued now is queued by the next upload,
  // which first looks for verified bags without a state file.
  void queue(const std::filesystem::path& bag) {
    if (settings_.upload != nullptr && !settings_.upload->enqueue(bag)) {
      link::tracef("Cannot queue %s for upload now (the next upload queues it): %s", bag.c_str(),
                   std::strerror(errno));
    }
  }

  std::size_t index_;
  const OffloadSettings& settings_;
  const OffloadEvents& events_;
  SharedTrail& trail_;
  Offloaded& receipt_;
  OffloadStatus status_;
  Clock::time_point told_{};
};

// The recorder's lock, or the run ended with who holds it.
std::optional<evidence::RecorderLock> locked(const OffloadSettings& settings, Run& run,
                                             const std::string& serial) {
  evidence::Locked taken = evidence::lock_recorder(
      settings.store, serial, evidence::lock_holder_text(host_name(), journal::real_user_name()));
  if (auto* lock = std::get_if<evidence::RecorderLock>(&taken)) {
    return std::move(*lock);
  }
  char report[768];
  if (const auto* busy = std::get_if<evidence::LockBusy>(&taken)) {
    std::snprintf(report, sizeof report, console::msg::offload_locked_format,
                  console::printable(busy->holder).c_str());
    run.end(Stage::failed, report, "offload", console::AuditOutcome::refused);
  } else {
    std::snprintf(report, sizeof report, console::msg::offload_lock_failed_format,
                  std::strerror(std::get<evidence::LockFailed>(taken).error));
    run.end(Stage::failed, report, "offload", console::AuditOutcome::failed);
  }
  return std::nullopt;
}

// The switch of one recorder of the bus, on its own thread.
Switched switch_target(link::Link link, std::size_t index, const console::Target& target,
                       const link::Secret& password, const OffloadSettings& settings,
                       const OffloadEvents& events, SharedTrail& trail) {
  Switched result;
  result.index = index;
  Offloaded& receipt = result.receipt;
  receipt.location = target.device.location();
  const link::TraceContext context(receipt.location);
  Run run(index, settings, events, trail, receipt);
  run.tell(Stage::switching);
  std::optional<link::GbkText> serial = target.serial;
  if (!serial) {
    serial = link::read_serial(link, target.device);
  }
  receipt.serial = serial ? serial->to_utf8() : std::string();
  receipt.reached = serial.has_value();
  // The recorder is this run's before it is switched: a second run switches nothing.
  result.lock = locked(settings, run, receipt.serial);
  if (!result.lock) {
    return result;
  }
  // Where the recorder sits now is where its disk will appear.
  result.port =
      settings.watch != nullptr ? settings.watch->port_of(receipt.location) : std::nullopt;

  const console::DiskSwitch switched = console::switch_for_offload(link, target.device, password);
  receipt.reached = receipt.reached || switched.outcome == console::Outcome::gate_failed ||
                    switched.outcome == console::Outcome::body_failed || switched.switched();
  if (switched.record) {
    receipt.officer = officer_of(*switched.record);
  }
  const std::optional<console::AuditOutcome> entered = console::audit_outcome(switched.outcome);
  if (!switched.switched()) {
    receipt.report = switched.report.value_or(std::string(console::msg::reconnect));
    receipt.stage = Stage::failed;
    if (entered) {
      run.enter("offload", *entered, {}, {*receipt.report});
    }
    run.tell(receipt.stage);
    return result;
  }
  run.enter("offload", console::AuditOutcome::ok, {}, {std::string(console::msg::msdc_done)});
  receipt.stage = Stage::waiting_for_disk;
  if (!result.port) {
    run.end(Stage::failed, std::string(console::msg::offload_no_port), "offload-bag",
            console::AuditOutcome::failed);
  }
  return result;
}

// A switched recorder's disk awaited on its port and read into a bag.
Offloaded offload_target(Switched switched, const OffloadSettings& settings,
                         const OffloadEvents& events, SharedTrail& trail, std::stop_token stop) {
  Offloaded receipt = std::move(switched.receipt);
  if (!switched.ok()) {
    return receipt;
  }
  const link::TraceContext context(receipt.location);
  Run run(switched.index, settings, events, trail, receipt);
  run.tell(Stage::waiting_for_disk);
  const WaitedDisk disk = settings.watch->wait_for_disk(*switched.port, settings.disk_wait, stop);
  for (const std::string& ignored : disk.ignored) {
    link::tracef("A disk of another device came on the recorder's port and was ignored: %s",
                 ignored.c_str());
  }
  if (!disk.node) {
    if (stop.stop_requested()) {
      run.end(Stage::cancelled, std::string(console::msg::offload_cancelled), "offload-bag",
              console::AuditOutcome::cancelled);
      return receipt;
    }
    char report[512];
    std::snprintf(
        report, sizeof report, console::msg::offload_no_disk_format,
        console::span_text(std::chrono::duration_cast<std::chrono::seconds>(settings.disk_wait),
                           console::SpanUnit::seconds)
            .c_str(),
        switched.port->c_str());
    std::string text = report;
    if (!disk.ignored.empty()) {
      text += "; " + std::string(console::msg::offload_ignored_disks);
      for (std::size_t i = 0; i < disk.ignored.size(); ++i) {
        text += (i > 0 ? ", " : "") + disk.ignored[i];
      }
    }
    run.end(Stage::failed, std::move(text), "offload-bag", console::AuditOutcome::failed);
    return receipt;
  }
  link::tracef("The recorder's disk is %s", disk.node->c_str());
  run.bag(*disk.node, *switched.lock, stop);
  return receipt;
}

struct StageWords {
  std::string_view name;  // kbcctl's JSON
  std::string_view text;  // the window's
};

// In the order of Stage.
constexpr StageWords kStageWords[] = {
    {"switching", console::msg::stage_switching},
    {"waiting-for-disk", console::msg::stage_waiting_for_disk},
    {"copying", console::msg::stage_copying},
    {"verifying", console::msg::stage_verifying},
    {"verified", console::msg::stage_verified},
    {"failed", console::msg::stage_failed},
    {"cancelled", console::msg::stage_cancelled},
};
static_assert(std::size(kStageWords) == static_cast<std::size_t>(Stage::cancelled) + 1);

}  // namespace

std::string_view stage_name(Stage stage) {
  return kStageWords[static_cast<int>(stage)].name;
}

std::string_view stage_text(Stage stage) {
  return kStageWords[static_cast<int>(stage)].text;
}

double OffloadStatus::rate() const {
  const double seconds = static_cast<double>(copying.count()) / 1000;
  return seconds > 0.5 ? static_cast<double>(bytes_done) / seconds : 0;
}

std::optional<long long> OffloadStatus::seconds_left() const {
  const double bytes_a_second = rate();
  if (stage != Stage::copying || bytes_a_second <= 0) {
    return std::nullopt;
  }
  return static_cast<long long>(static_cast<double>(bytes_total - bytes_done) / bytes_a_second);
}

Offloaded offload_from(const std::string& disk, const std::string& serial,
                       const OffloadSettings& settings, const OffloadEvents& events,
                       std::stop_token stop) {
  Offloaded receipt;
  receipt.location = disk;
  receipt.serial = serial;
  receipt.reached = true;
  SharedTrail trail(settings.trail);
  Run run(0, settings, events, trail, receipt);
  const std::optional<evidence::RecorderLock> lock = locked(settings, run, serial);
  if (!lock) {
    return receipt;
  }
  run.enter("offload", console::AuditOutcome::ok, disk, {"--from " + disk});
  run.bag(disk, *lock, stop);
  return receipt;
}

std::vector<Switched> switch_recorders(const link::Link& link,
                                       std::span<const console::Target> targets,
                                       const link::Secret& password,
                                       const OffloadSettings& settings,
                                       const OffloadEvents& events) {
  SharedTrail trail(settings.trail);
  std::vector<Switched> switched(targets.size());
  {
    std::vector<std::jthread> threads;
    for (std::size_t i = 0; i < targets.size(); ++i) {
      threads.emplace_back([&, i] {
        switched[i] = switch_target(link, i, targets[i], password, settings, events, trail);
      });
    }
  }
  return switched;
}

Offloaded offload_switched(Switched switched, const OffloadSettings& settings,
                           const OffloadEvents& events, std::stop_token stop) {
  SharedTrail trail(settings.trail);
  return offload_target(std::move(switched), settings, events, trail, std::move(stop));
}

void offload_recorders(const link::Link& link, std::span<const console::Target> targets,
                       const link::Secret& password, const OffloadSettings& settings,
                       const OffloadEvents& events, std::stop_token stop,
                       const std::function<void(Offloaded)>& done) {
  SharedTrail trail(settings.trail);
  std::mutex mutex;
  std::vector<std::jthread> threads;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    threads.emplace_back([&, i] {
      Switched switched = switch_target(link, i, targets[i], password, settings, events, trail);
      Offloaded receipt = offload_target(std::move(switched), settings, events, trail, stop);
      const std::lock_guard lock(mutex);
      done(std::move(receipt));
    });
  }
}

}  // namespace kbc::offload
