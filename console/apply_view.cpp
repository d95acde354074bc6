// A station profile applied from the view: the password from its field, the recorders from one
// scan, the receipts in its pane as each recorder finishes.
#include <cstdio>

#include "console/apply.h"
#include "console/console.h"
#include "console/control_ids.h"
#include "console/messages.h"
#include "console/printable.h"
#include "link/recorders.h"
#include "link/secret.h"

namespace kbc::console {
namespace {

std::string applied_line(std::size_t recorders, std::size_t ok) {
  char text[128];
  const int n = std::snprintf(text, sizeof text, msg::profile_applied_format, recorders, ok);
  return std::string(text, n > 0 ? static_cast<std::size_t>(n) : 0);
}

}  // namespace

std::optional<std::vector<Target>> Console::addressed_targets(ApplyTo to,
                                                              const std::function<void()>& gone) {
  // Nothing scans again until every recorder is done: this console owns the link meanwhile.
  std::vector<link::UsbDevice> recorders = link::scan_recorders(link_);
  const bool chosen = to == ApplyTo::chosen && link_.location.has_value();
  if (to == ApplyTo::chosen) {
    if (!chosen && recorders.size() > 1) {
      view_.append_line(msg::choose_recorder);
      needs_recorder_choice_ = true;
      outcome_ = Outcome::recorder_not_chosen;
      return std::nullopt;
    }
    // The recorder a button would talk to, the same choice a session makes.
    const link::UsbDevice* device = link::chosen_recorder(recorders, link_.location);
    std::vector<link::UsbDevice> only;
    if (device != nullptr) {
      only.push_back(*device);
    }
    recorders = std::move(only);
  }
  std::vector<Target> targets;
  for (link::UsbDevice& device : recorders) {
    targets.push_back({std::move(device), std::nullopt});
  }
  if (targets.empty()) {
    view_.append_line(msg::reconnect);
    outcome_ = Outcome::no_recorder;
    // A chosen recorder that is gone is still the one the operator addressed.
    if (chosen && gone) {
      gone();
    }
    return std::nullopt;
  }
  if (chosen && chosen_serial_) {
    targets.front().serial = link::GbkText::from_utf8(*chosen_serial_);
  }
  return targets;
}

std::optional<link::Secret> Console::checked_password() {
  link::Secret password(view_.field_text(idc::password));
  // Refused here once, not once per recorder.
  if (const auto failure =
          pre_check_failure(PreCheck::full, link::GbkText::from_utf8(password.view()))) {
    view_.append_line(*failure);
    outcome_ = Outcome::pre_check_failed;
    return std::nullopt;
  }
  return password;
}

bool Console::apply_profile(const Profile& profile, std::string_view shown_as, ApplyTo to) {
  begin_button();
  view_.append_line(std::string(msg::applying_profile) + printable(shown_as));
  const std::optional<link::Secret> password = checked_password();
  if (!password) {
    return false;
  }
  const auto targets = addressed_targets(to, [&] { enter_gone(trail_, *link_.location, profile); });
  if (!targets) {
    return false;
  }
  std::size_t ok = 0;
  apply_and_enter(link_, *targets, profile, *password, clock_, trail_, [&](Receipt receipt) {
    ok += receipt.ok();
    for (const std::string& line : pane_lines(receipt)) {
      view_.append_line(line);
    }
  });
  view_.append_line(applied_line(targets->size(), ok));
  outcome_ = ok == targets->size() ? Outcome::succeeded : Outcome::body_failed;
  return ok == targets->size();
}

}  // namespace kbc::console
