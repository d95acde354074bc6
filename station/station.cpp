#include "station/station.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "console/apply.h"
#include "console/messages.h"
#include "console/offload_messages.h"
#include "console/printable.h"
#include "console/station_messages.h"
#include "link/recorders.h"
#include "link/trace.h"

namespace kbc::station {
namespace {

using Clock = std::chrono::steady_clock;
// A slot's progress is published at most this often; a change of stage at once.
constexpr auto kPublishEvery = std::chrono::seconds(1);

// The entries of one recorder's offload name its port as well.
class PortTrail final : public console::AuditTrail {
 public:
  PortTrail(console::AuditTrail* inner, std::string port) : inner_(inner), port_(std::move(port)) {}
  bool writable() override { return inner_ != nullptr && inner_->writable(); }
  void write(const console::AuditEntry& entry) override {
    console::AuditEntry named = entry;
    named.fields.emplace_back("KBC_PORT", port_);
    inner_->write(named);
  }

 private:
  console::AuditTrail* inner_;
  std::string port_;
};

SlotStage slot_stage(offload::Stage stage) {
  switch (stage) {
    case offload::Stage::switching:
      return SlotStage::switching;
    case offload::Stage::waiting_for_disk:
      return SlotStage::waiting_for_disk;
    case offload::Stage::copying:
      return SlotStage::copying;
    case offload::Stage::verifying:
      return SlotStage::checking;
    case offload::Stage::verified:
      return SlotStage::verified;
    case offload::Stage::failed:
    case offload::Stage::cancelled:
      break;
  }
  return SlotStage::failed;
}

std::string joined(const std::optional<std::string>& a, const std::optional<std::string>& b) {
  std::string text = a.value_or("");
  if (b) {
    text += (text.empty() ? "" : " ") + *b;
  }
  return text;
}

std::string when_text(std::chrono::sys_seconds when) {
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  ::localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
  return text;
}

// "7个文件, 4.3 MB"
std::string count_text(const console::OffloadFact& fact) {
  char text[96];
  std::snprintf(text, sizeof text, console::msg::offload_count_format,
                static_cast<unsigned long long>(fact.files),
                console::size_text(fact.bytes).c_str());
  return text;
}

std::string lines_text(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += (text.empty() ? "" : "; ") + line;
  }
  return text;
}

}  // namespace

struct Station::Docked {
  link::UsbDevice device;
  SlotState slot;
  PortTrail trail;
  bool gone = false;      // the recorder left the bus
  bool switched = false;  // it left as its disk: a departure then is no end
  bool serving = false;   // it holds a slot
  Clock::time_point published{};
  std::jthread thread;
};

Station::Station(link::Port& port, link::Pause& pause, Arrivals& arrivals, StationSettings settings)
    : port_(port), pause_(pause), arrivals_(arrivals), settings_(std::move(settings)) {
  settings_.slots = std::max(settings_.slots, 1);
  if (settings_.board != nullptr) {
    settings_.board->publish(StationState{static_cast<long>(::getpid()), epoch_seconds(),
                                          settings_.slots, settings_.offload.store.root().string(),
                                          settings_.low_space});
  }
}

Station::~Station() {
  // Each run's thread is joined before the recorder it serves goes.
  for (Docked& docked : docked_) {
    docked.thread.request_stop();
  }
  slot_free_.notify_all();
  for (Docked& docked : docked_) {
    if (docked.thread.joinable()) {
      docked.thread.join();
    }
  }
}

void Station::publish(Docked& docked) {
  docked.published = Clock::now();
  if (settings_.board != nullptr) {
    settings_.board->publish(docked.slot);
  }
}

void Station::enter(Docked& docked, std::string_view action, console::AuditOutcome outcome,
                    std::vector<std::string> report) {
  if (docked.trail.writable()) {
    docked.trail.write(
        {action,
         {},
         docked.device.location(),
         docked.slot.serial.empty() ? std::nullopt : std::optional(docked.slot.serial),
         outcome,
         std::move(report),
         false});
  }
}

void Station::end(Docked& docked, SlotStage stage, std::string result) {
  const std::lock_guard lock(mutex_);
  docked.slot.stage = stage;
  docked.slot.result = std::move(result);
  docked.slot.ended = epoch_seconds();
  docked.slot.seconds_left.reset();
  enter(docked, "station-end",
        stage == SlotStage::verified || stage == SlotStage::recent ? console::AuditOutcome::ok
                                                                   : console::AuditOutcome::failed,
        {std::string(slot_stage_name(stage)), docked.slot.result});
  publish(docked);
  if (served) {
    served(Served{docked.slot});
  }
}

bool Station::take_slot(Docked& docked, std::stop_token stop) {
  std::unique_lock lock(mutex_);
  // In the order plugged in: the first one waiting that is still there goes next.
  const auto next_up = [&] {
    for (const Docked& other : docked_) {
      if (!other.serving && !other.gone && other.slot.stage == SlotStage::queued) {
        return &other == &docked;
      }
    }
    return false;
  };
  slot_free_.wait(lock, stop,
                  [&] { return docked.gone || (busy_ < settings_.slots && next_up()); });
  if (docked.gone || stop.stop_requested()) {
    return false;
  }
  docked.serving = true;
  ++busy_;
  return true;
}

void Station::give_slot() {
  {
    const std::lock_guard lock(mutex_);
    --busy_;
  }
  slot_free_.notify_all();
}

void Station::serve(Docked& docked, std::stop_token stop) {
  const link::TraceContext context(docked.device.location());
  if (!take_slot(docked, stop)) {
    end(docked, docked.gone ? SlotStage::unplugged : SlotStage::failed,
        std::string(docked.gone ? console::msg::reconnect : console::msg::slot_stopped));
    return;
  }
  struct SlotGuard {
    Station& station;
    ~SlotGuard() { station.give_slot(); }
  } guard{*this};
  link::Link link{port_, pause_};
  const auto stage = [&](SlotStage next) {
    const std::lock_guard lock(mutex_);
    docked.slot.stage = next;
    publish(docked);
  };

  stage(SlotStage::identifying);
  const std::optional<link::GbkText> serial = link::read_serial(link, docked.device);
  if (!serial) {
    enter(docked, "station-serial", console::AuditOutcome::failed,
          {std::string(console::msg::slot_no_serial)});
    end(docked, docked.gone ? SlotStage::unplugged : SlotStage::failed,
        std::string(console::msg::slot_no_serial));
    return;
  }
  {
    const std::lock_guard lock(mutex_);
    docked.slot.serial = console::printable(serial->to_utf8());
  }
  const std::string serial_text = serial->to_utf8();
  const link::Secret* key =
      settings_.keys != nullptr ? settings_.keys->key_for(serial_text) : nullptr;
  if (key == nullptr) {
    enter(docked, "station-key", console::AuditOutcome::refused,
          {std::string(console::msg::slot_no_key)});
    end(docked, SlotStage::failed, std::string(console::msg::slot_no_key));
    return;
  }
  const auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
  const std::optional<console::OffloadFact> fact =
      settings_.ledger != nullptr ? settings_.ledger->newest_verified(serial_text) : std::nullopt;
  {
    const std::lock_guard lock(mutex_);
    docked.slot.overdue = !fact || now - fact->when > settings_.overdue;
  }

  // The password's gate and the clock, then the profile, as "验证密码" and apply do them.
  stage(settings_.profile && !settings_.profile->entries.empty() ? SlotStage::applying
                                                                 : SlotStage::verifying);
  const console::Profile none;
  const console::Receipt receipt = console::apply_profile(
      link, docked.device, settings_.profile.value_or(none), *key, *settings_.clock);
  const bool clock_set = !receipt.steps.empty() && receipt.steps.front().ok;
  enter(docked, "station-verify",
        clock_set
            ? console::AuditOutcome::ok
            : (receipt.outcome == console::Outcome::gate_failed ? console::AuditOutcome::refused
                                                                : console::AuditOutcome::failed),
        receipt.lines());
  if (settings_.profile && clock_set) {
    if (std::optional<console::AuditEntry> applied =
            console::audit_entry(receipt, *settings_.profile)) {
      applied->action = "station-profile";
      docked.trail.write(*applied);
    }
  }
  if (!receipt.ok()) {
    const std::vector<std::string> lines = receipt.lines();
    end(docked, docked.gone ? SlotStage::unplugged : SlotStage::failed,
        lines.empty() ? std::string(console::msg::reconnect) : lines.back());
    return;
  }

  // Offloaded within the window: not again; what the erase rule lets the operator do is said.
  if (fact && now - fact->when <= settings_.erase.window) {
    char result[768];
    std::snprintf(result, sizeof result, console::msg::slot_recent_format,
                  when_text(fact->when).c_str(), count_text(*fact).c_str(),
                  std::string(console::erase_allowed(settings_.erase, fact, now)
                                  ? console::msg::slot_erase_allowed
                                  : console::msg::slot_erase_refused)
                      .c_str());
    end(docked, SlotStage::recent, result);
    return;
  }

  offload::OffloadSettings settings = settings_.offload;
  settings.trail = &docked.trail;
  offload::OffloadEvents events;
  events.status = [&](std::size_t, const offload::OffloadStatus& status) {
    const std::lock_guard lock(mutex_);
    const SlotStage next = slot_stage(status.stage);
    const bool moved = next != docked.slot.stage;
    docked.switched = docked.switched || status.stage == offload::Stage::waiting_for_disk;
    docked.slot.files_done = status.files_done;
    docked.slot.files_total = status.files_total;
    docked.slot.bytes_done = status.bytes_done;
    docked.slot.bytes_total = status.bytes_total;
    docked.slot.rate = status.rate();
    docked.slot.seconds_left = status.seconds_left();
    // The end is published by end(), with its result.
    if (!finished(next) && (moved || Clock::now() - docked.published >= kPublishEvery)) {
      docked.slot.stage = next;
      publish(docked);
    }
  };
  const console::Target target{docked.device, serial};
  std::vector<offload::Switched> switched =
      offload::switch_recorders(link, std::span(&target, 1), *key, settings, events);
  {
    const std::lock_guard lock(mutex_);
    const evidence::Officer& officer = switched.front().receipt.officer;
    docked.slot.officer = console::printable(joined(officer.user_number, officer.user_name));
    docked.slot.unit = console::printable(joined(officer.unit_number, officer.unit_name));
  }
  const offload::Offloaded offloaded =
      offload::offload_switched(std::move(switched.front()), settings, events, stop);
  const std::vector<std::string> lines = offloaded.lines();
  if (offloaded.ok()) {
    const std::lock_guard lock(mutex_);
    docked.slot.overdue = false;
  }
  end(docked,
      offloaded.ok()                    ? SlotStage::verified
      : docked.gone && !docked.switched ? SlotStage::unplugged
                                        : SlotStage::failed,
      console::printable(lines_text(lines)));
}

void Station::dock(const link::UsbDevice& device, std::stop_token stop) {
  const std::string location = device.location();
  const std::optional<std::string> port = settings_.offload.watch != nullptr
                                              ? settings_.offload.watch->port_of(location)
                                              : std::nullopt;
  const std::string slot_port = port.value_or(location);
  // A new recorder on a port replaces what the port showed; the run that showed it has ended, and
  // its thread is joined once the lock is given back.
  std::list<Docked> retired;
  const std::lock_guard lock(mutex_);
  for (auto it = docked_.begin(); it != docked_.end();) {
    const auto next = std::next(it);
    if (it->slot.port == slot_port && it->slot.ended != 0) {
      std::erase_if(at_location_, [&](const auto& entry) { return entry.second == &*it; });
      retired.splice(retired.end(), docked_, it);
    }
    it = next;
  }
  Docked& docked = docked_.emplace_back(Docked{device,
                                               SlotState{},
                                               PortTrail(settings_.offload.trail, slot_port),
                                               false,
                                               false,
                                               false,
                                               {},
                                               {}});
  docked.slot.port = slot_port;
  docked.slot.location = location;
  docked.slot.docked_since = epoch_seconds();
  at_location_[location] = &docked;
  enter(docked, "station-dock", console::AuditOutcome::ok,
        {std::string(console::msg::slot_queued)});
  publish(docked);
  docked.thread = std::jthread([this, &docked, stop](std::stop_token own) {
    std::stop_source both;
    const std::stop_callback outer(stop, [&] { both.request_stop(); });
    const std::stop_callback inner(own, [&] { both.request_stop(); });
    serve(docked, both.get_token());
  });
}

void Station::left(const std::string& location) {
  {
    const std::lock_guard lock(mutex_);
    const auto found = at_location_.find(location);
    if (found == at_location_.end()) {
      return;
    }
    Docked& docked = *found->second;
    at_location_.erase(found);
    docked.gone = true;
    // A recorder that left as its disk is still on its port; one that left otherwise is gone
    // from the drawer once its run has ended.
    if (finished(docked.slot.stage) && !docked.switched && settings_.board != nullptr) {
      settings_.board->remove(docked.slot.port);
    }
  }
  slot_free_.notify_all();
}

void Station::scan_and_dock(std::stop_token stop) {
  for (const link::UsbDevice& device : port_.scan(pause_)) {
    bool known = false;
    {
      const std::lock_guard lock(mutex_);
      known = at_location_.contains(device.location());
    }
    if (!known) {
      dock(device, stop);
    }
  }
}

void Station::run(std::stop_token stop) {
  scan_and_dock(stop);
  while (!stop.stop_requested()) {
    bool arrived = false;
    for (const BusEvent& event : arrivals_.wait(stop)) {
      if (event.arrived) {
        arrived = true;
      } else {
        left(event.location);
      }
    }
    if (arrived && !stop.stop_requested()) {
      scan_and_dock(stop);
    }
  }
}

std::vector<Served> Station::run_once(std::stop_token stop) {
  scan_and_dock(stop);
  std::vector<Docked*> runs;
  {
    const std::lock_guard lock(mutex_);
    for (Docked& docked : docked_) {
      runs.push_back(&docked);
    }
  }
  std::vector<Served> ended;
  for (Docked* docked : runs) {
    docked->thread.join();
    ended.push_back(Served{docked->slot});
  }
  return ended;
}

}  // namespace kbc::station
