#include <cstdio>
#include <string>

#include "console/console.h"
#include "console/messages.h"

namespace kbc::console {
namespace {

std::string time_set_report(const link::LocalTime& t) {
  char text[128];
  const int n = std::snprintf(text, sizeof text, msg::time_set_format, t.year, t.month, t.day,
                              t.hour, t.minute, t.second);
  return std::string(text, n > 0 ? static_cast<std::size_t>(n) : 0);
}

}  // namespace

bool set_clock(const Call& call, const link::LocalTime& time) {
  if (link::set_time(call.device, time) != link::spec(link::Cmd::set_time).statuses.ok) {
    call.report(msg::reconnect);
    return false;
  }
  call.report(time_set_report(time));
  return true;
}

bool Console::verify_password() {
  const Outcome outcome = run({PreCheck::full, Gate::none}, [&](Call& call) {
    // All three go out whatever the first ones answer.
    const GateChecks checks = check_passwords(call.device, call.password, Gate::either);
    link::read_psw_status(call.device, call.password);

    if (checks.normal_matched()) {
      m_bFeatureEnabled.fill(checks.admin_matched() ? 1 : 0);
    } else if (checks.admin_matched()) {
      m_bFeatureEnabled.fill(1);
    } else {
      note_outcome(AuditOutcome::refused);
      call.report(msg::wrong_password);
      return false;
    }
    m_bPasswordVerified = 1;

    // The flags are set first, so a failed clock leaves the buttons enabled.
    return set_clock(call, clock_.now());
  });
  return succeeded(outcome);
}

}  // namespace kbc::console
