#include "evidence/offload.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iterator>
#include <mutex>
#include <thread>

#include "console/disk_switch.h"
#include "console/erase_guard.h"
#include "console/messages.h"
#include "journal/journal_trail.h"
#include "link/recorders.h"
#include "link/trace.h"

namespace kbc::evidence {
namespace {

using Clock = std::chrono::steady_clock;
// Progress is told at most this often; a change of stage at once.
constexpr auto kStatusEvery = std::chrono::milliseconds(200);

std::optional<std::string> field_text(const link::IdentityRecord& record,
                                      link::IdentityField field) {
  const std::string text = record.field(field).to_utf8();
  return text.empty() ? std::nullopt : std::optional(text);
}

Officer officer_of(const link::IdentityRecord& record) {
  return {field_text(record, link::IdentityField::user_number),
          field_text(record, link::IdentityField::user_name),
          field_text(record, link::IdentityField::unit_number),
          field_text(record, link::IdentityField::unit_name)};
}

std::string host_name() {
  char name[256] = {};
  return ::gethostname(name, sizeof name - 1) == 0 ? name : "unknown";
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

  void bag(const std::string& disk, std::stop_token stop) {
    auto opened = open_recorder_files(disk);
    if (auto* problem = std::get_if<std::string>(&opened)) {
      receipt_.report = "无法读取记录仪的磁盘: " + *problem;
      receipt_.stage = Stage::failed;
      enter("offload-bag", console::AuditOutcome::failed, disk, {*receipt_.report});
      return;
    }
    RecorderFiles& files = *std::get<0>(opened);
    for (const RecordedFile& file : files.files()) {
      status_.bytes_total += file.size;
    }
    status_.files_total = files.files().size();
    BagInfo info{receipt_.serial, receipt_.officer, host_name(), journal::real_user_name(),
                 settings_.tool};
    BagEvents bag_events;
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
    bag_events.file_done = [&](const FileDone& done) {
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
    StoreIo plain;
    const auto started = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    receipt_.bag = write_bag(files, settings_.store, info, started, bag_events, stop,
                             settings_.io != nullptr ? *settings_.io : plain);
    const BagOutcome& bag = receipt_.bag;
    if (bag.verified && settings_.upload != nullptr && !settings_.upload->enqueue(bag.path)) {
      link::tracef("Cannot queue %s for upload: %s", bag.path.c_str(), std::strerror(errno));
    }
    receipt_.stage = bag.verified                            ? Stage::verified
                     : bag.cancelled && bag.problems.empty() ? Stage::cancelled
                                                             : Stage::failed;
    const console::AuditOutcome outcome =
        receipt_.stage == Stage::verified    ? console::AuditOutcome::ok
        : receipt_.stage == Stage::cancelled ? console::AuditOutcome::cancelled
                                             : console::AuditOutcome::failed;
    enter("offload-bag", outcome, bag.path.string(), receipt_.lines(),
          {{"KBC_BAG", bag.path.string()},
           {"KBC_BAG_NAME", bag.name},
           {"KBC_FILES", std::to_string(bag.files)},
           {"KBC_BYTES", std::to_string(bag.bytes)},
           {"KBC_TAGMANIFEST_SHA256", bag.tagmanifest_sha256}});
    tell(receipt_.stage);
  }

 private:
  std::size_t index_;
  const OffloadSettings& settings_;
  const OffloadEvents& events_;
  SharedTrail& trail_;
  Offloaded& receipt_;
  OffloadStatus status_;
  Clock::time_point told_{};
};

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
  // Where the recorder sits now is where its disk will appear.
  result.port =
      settings.watch != nullptr ? settings.watch->port_of(receipt.location) : std::nullopt;

  const console::DiskSwitch switched = console::switch_for_offload(link, target.device, password);
  receipt.reached = switched.outcome == console::Outcome::gate_failed ||
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
    receipt.report = "无法确定记录仪的USB端口，不能辨认它的磁盘";
    receipt.stage = Stage::failed;
    run.enter("offload-bag", console::AuditOutcome::failed, {}, {*receipt.report});
    run.tell(receipt.stage);
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
  const std::optional<std::string> disk =
      settings.watch->wait_for_disk(*switched.port, settings.disk_wait, stop);
  if (!disk) {
    receipt.stage = stop.stop_requested() ? Stage::cancelled : Stage::failed;
    receipt.report = stop.stop_requested()
                         ? std::string("导出已取消")
                         : "记录仪的磁盘在" + std::to_string(settings.disk_wait.count() / 1000) +
                               "秒内没有出现在它的USB端口 " + *switched.port + " 上";
    run.enter(
        "offload-bag",
        stop.stop_requested() ? console::AuditOutcome::cancelled : console::AuditOutcome::failed,
        {}, {*receipt.report});
    run.tell(receipt.stage);
    return receipt;
  }
  link::tracef("The recorder's disk is %s", disk->c_str());
  run.bag(*disk, stop);
  return receipt;
}

struct StageWords {
  std::string_view name;  // kbcctl's JSON
  std::string_view text;  // the window's
};

// In the order of Stage.
constexpr StageWords kStageWords[] = {
    {"switching", "切换为磁盘"}, {"waiting-for-disk", "等待磁盘"}, {"copying", "复制中"},
    {"verifying", "校验中"},     {"verified", "已验证"},           {"failed", "失败"},
    {"cancelled", "已取消"},
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

std::vector<std::string> Offloaded::lines() const {
  if (report) {
    return {*report};
  }
  std::vector<std::string> lines;
  const std::string count = std::to_string(bag.files) + "个文件, " + console::size_text(bag.bytes);
  switch (stage) {
    case Stage::verified:
      lines.push_back("导出已验证: " + bag.path.string() + " (" + count + ")");
      if (bag.kept > 0) {
        lines.push_back("其中" + std::to_string(bag.kept) + "个文件沿用上次未完成的导出");
      }
      return lines;
    case Stage::cancelled:
      lines.push_back("导出已取消，未完成的导出保留在: " + bag.path.string());
      return lines;
    default:
      lines.push_back("导出失败，录像仍在记录仪上；未完成的导出保留在: " + bag.path.string());
      for (const std::string& problem : bag.problem_lines(true)) {
        lines.push_back(problem);
      }
      return lines;
  }
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
  run.enter("offload", console::AuditOutcome::ok, disk, {"--from " + disk});
  run.bag(disk, stop);
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

}  // namespace kbc::evidence
