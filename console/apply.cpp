#include "console/apply.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <mutex>
#include <thread>

#include "console/identity.h"
#include "console/messages.h"
#include "console/printable.h"
#include "link/recorders.h"
#include "link/trace.h"

namespace kbc::console {
namespace {

// The time sent, as a receipt shows it: "2024-03-05 07:08:09".
std::string time_value(const link::LocalTime& t) {
  char text[64];
  const int n = std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month,
                              t.day, t.hour, t.minute, t.second);
  return std::string(text, n > 0 ? static_cast<std::size_t>(n) : 0);
}

}  // namespace

bool Receipt::reached() const {
  return outcome == Outcome::gate_failed || outcome == Outcome::body_failed ||
         outcome == Outcome::succeeded;
}

std::vector<std::string> Receipt::lines() const {
  std::vector<std::string> lines;
  if (report) {
    lines.push_back(*report);
  }
  for (const Step& step : steps) {
    if (step.report) {
      lines.push_back(*step.report);
    }
  }
  return lines;
}

Receipt apply_profile(link::Link link, const link::UsbDevice& device, const Profile& profile,
                      const link::Secret& password, Clock& clock) {
  Receipt receipt;
  receipt.location = device.location();
  receipt.steps.push_back({std::string(kTimeKey), {}, std::nullopt, false});
  for (const ProfileEntry& entry : profile.entries) {
    receipt.steps.push_back({std::string(entry.key), entry.value(), std::nullopt, false});
  }

  // Until the steps begin, a report ends the run; from then on each report is the next step's
  // (every step reports once).
  std::optional<std::size_t> next_step;
  const Report report = [&](std::string_view text) {
    if (!next_step) {
      receipt.report = text;
    } else if (*next_step < receipt.steps.size()) {
      receipt.steps[(*next_step)++].report = text;
    }
  };
  // Marks the steps reported so far as carried out or not.
  const auto settle = [&](std::size_t from, bool ok) {
    for (std::size_t i = from; i < *next_step; ++i) {
      receipt.steps[i].ok = ok;
    }
    return ok;
  };

  receipt.outcome = run_sequence(
      link::GbkText::from_utf8(password.view()),
      [&] { return link::Session::open_listed(link, device); }, report,
      {PreCheck::full, Gate::admin},
      [&](Call& call) {
        next_step = 0;
        const link::LocalTime now = clock.now();
        receipt.steps.front().value = time_value(now);
        if (!settle(0, set_clock(call, now))) {
          return false;
        }
        std::vector<FieldText> fields;
        for (const ProfileEntry& entry : profile.entries) {
          if (entry.item != nullptr) {
            const std::size_t step = *next_step;
            if (!settle(step, send_and_report(call, *entry.item) == Sent::done)) {
              return false;
            }
          } else {
            // The profile was checked: its texts have their GBK form.
            fields.push_back({entry.field, link::GbkText::from_utf8(entry.text).value()});
          }
        }
        // The settings come first in a profile, so the unit fields end the run.
        const std::size_t first_field = *next_step;
        return fields.empty() || settle(first_field, write_identity(call, fields));
      });
  return receipt;
}

std::vector<std::string> pane_lines(const Receipt& receipt) {
  std::vector<std::string> lines{recorder_heading(receipt.location, receipt.serial)};
  std::ranges::move(receipt.lines(), std::back_inserter(lines));
  std::string not_sent;
  for (const Step& step : receipt.steps) {
    if (!step.report) {
      not_sent += (not_sent.empty() ? "" : ", ") + step.key;
    }
  }
  // Nothing was sent at all where the run ended before its steps; its report says why.
  if (!not_sent.empty() && !receipt.report) {
    lines.push_back(std::string(msg::not_sent) + not_sent);
  }
  return lines;
}

std::optional<AuditEntry> audit_entry(const Receipt& receipt, const Profile& profile) {
  const std::optional<AuditOutcome> outcome = audit_outcome(receipt.outcome);
  if (!outcome) {
    return std::nullopt;
  }
  std::string value;
  for (const ProfileEntry& entry : profile.entries) {
    value += (value.empty() ? "" : ", ") + std::string(entry.key) + "=" + entry.value();
  }
  return AuditEntry{
      "apply", std::move(value), receipt.location, receipt.serial, *outcome, receipt.lines(), true};
}

void apply_to_recorders(const link::Link& link, std::span<const Target> targets,
                        const Profile& profile, const link::Secret& password, Clock& clock,
                        const ReceiptSink& done) {
  std::mutex done_mutex;
  std::vector<std::jthread> threads;
  threads.reserve(targets.size());
  for (const Target& target : targets) {
    threads.emplace_back([&] {
      const link::TraceContext context(target.device.location());
      // Each thread its own link, on the same port, pause and scan.
      link::Link own = link;
      const std::optional<link::GbkText> serial =
          target.serial ? target.serial : link::read_serial(own, target.device);
      Receipt receipt = apply_profile(own, target.device, profile, password, clock);
      if (serial) {
        receipt.serial = serial->to_utf8();
      }
      const std::lock_guard lock(done_mutex);
      done(std::move(receipt));
    });
  }
}

void enter_gone(AuditTrail* trail, const std::string& location, const Profile& profile) {
  if (trail == nullptr || location.empty() || !trail->writable()) {
    return;
  }
  Receipt gone;
  gone.location = location;
  gone.report = msg::reconnect;
  if (const auto entry = audit_entry(gone, profile)) {
    trail->write(*entry);
  }
}

void apply_and_enter(const link::Link& link, std::span<const Target> targets,
                     const Profile& profile, const link::Secret& password, Clock& clock,
                     AuditTrail* trail, const ReceiptSink& done) {
  AuditTrail* const entered = trail != nullptr && trail->writable() ? trail : nullptr;
  apply_to_recorders(link, targets, profile, password, clock, [&](Receipt receipt) {
    if (entered != nullptr) {
      if (const auto entry = audit_entry(receipt, profile)) {
        entered->write(*entry);
      }
    }
    done(std::move(receipt));
  });
}

}  // namespace kbc::console
