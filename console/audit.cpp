#include "console/audit.h"

#include <algorithm>
#include <array>
#include <utility>

#include "console/control_ids.h"
#include "console/printable.h"

namespace kbc::console {
namespace {

constexpr std::array<std::pair<int, std::string_view>, 17> kActions{{
    {idc::verify, "verify"},
    {idc::msdc, "msdc"},
    {idc::erase, "erase"},
    {idc::change_password, "passwd"},
    {idc::device_info, "info"},
    {idc::video, "video"},
    {idc::segment, "segment"},
    {idc::photo, "photo"},
    {idc::brightness, "brightness"},
    {idc::screen_off, "screen-off"},
    {idc::ir, "ir"},
    {idc::voice, "voice"},
    {idc::motion, "motion"},
    {idc::unit_number, "unit-number"},
    {idc::unit_name, "unit-name"},
    {idc::user_number, "user-number"},
    {idc::user_name, "user-name"},
}};

}  // namespace

std::string_view outcome_name(AuditOutcome outcome) {
  switch (outcome) {
    case AuditOutcome::ok:
      return "ok";
    case AuditOutcome::refused:
      return "refused";
    case AuditOutcome::failed:
      return "failed";
    case AuditOutcome::cancelled:
      return "cancelled";
    case AuditOutcome::no_recorder:
      return "no-recorder";
  }
  return "failed";
}

std::optional<AuditOutcome> audit_outcome(Outcome handled, std::optional<AuditOutcome> said) {
  switch (handled) {
    case Outcome::pre_check_failed:
    case Outcome::recorder_not_chosen:
      return std::nullopt;
    case Outcome::no_recorder:
      return AuditOutcome::no_recorder;
    case Outcome::gate_failed:
      return AuditOutcome::refused;
    case Outcome::body_failed:
      return said.value_or(AuditOutcome::failed);
    case Outcome::succeeded:
      return said.value_or(AuditOutcome::ok);
  }
  return std::nullopt;
}

std::string AuditEntry::message() const {
  // The serial number is the recorder's text: shown, never obeyed.
  const std::string recorder = serial ? printable(*serial) : "-";
  const std::string last = report.empty() ? std::string(outcome_name(outcome)) : report.back();
  return std::string(action) + " on " + recorder + " (" + location + "): " + last;
}

Severity AuditEntry::severity() const {
  if (outcome == AuditOutcome::refused || outcome == AuditOutcome::failed ||
      outcome == AuditOutcome::no_recorder) {
    return Severity::warning;
  }
  return changes ? Severity::notice : Severity::info;
}

std::string_view action_name(int button) {
  const auto* row = std::ranges::find(kActions, button, &std::pair<int, std::string_view>::first);
  return row == kActions.end() ? std::string_view() : row->second;
}

}  // namespace kbc::console
