#include "console/console.h"

#include "console/control_ids.h"
#include "console/enable_flags.h"
#include "console/identity.h"

namespace kbc::console {

Console::Console(View& view, link::Link link, Clock& clock, AuditTrail* trail)
    : view_(view), link_(link), clock_(clock), trail_(trail) {}

Outcome Console::run(const Sequence& sequence, const Body& body,
                     const std::function<void()>& reaching) {
  const Outcome outcome = run_handler(view_, link_, sequence, body, [&] {
    find_audited_recorder();
    if (reaching) {
      reaching();
    }
  });
  if (!outcome_) {
    outcome_ = outcome;
  }
  needs_recorder_choice_ = needs_recorder_choice_ || outcome == Outcome::recorder_not_chosen;
  return outcome;
}

void Console::begin_button() {
  needs_recorder_choice_ = false;
  outcome_.reset();
}

bool Console::on_command(int id) {
  begin_button();
  return audited(id, [this, id] { return dispatch(id); });
}

std::optional<link::IdentityRecord> Console::show_device_info() {
  begin_button();
  std::optional<link::IdentityRecord> shown;
  audited(idc::device_info, [&] {
    shown = read_device_info();
    return shown.has_value();
  });
  return shown;
}

bool Console::dispatch(int id) {
  if (const SettingButton* button = setting_button(id)) {
    return apply_setting(*button);
  }
  if (const IdentityButton* button = identity_button(id)) {
    return set_identity_field(*button);
  }
  switch (id) {
    case idc::verify:
      return verify_password();
    case idc::msdc:
      return switch_to_disk();
    case idc::erase:
      return erase_all_files();
    case idc::change_password:
      return open_password_dialog();
    case idc::device_info:
      return read_device_info().has_value();
    default:
      return false;
  }
}

void Console::on_field_changed(int id) {
  if (id != idc::user_number_field && id != idc::unit_number_field) {
    return;
  }
  if (!letters_and_digits_only(view_.field_text(id))) {
    view_.show_message(msg::letters_and_digits_only);
    view_.set_field_text(id, "");
  }
}

bool Console::is_enabled(int id) const {
  if (id == idc::change_password) {
    return m_bPasswordVerified != 0;
  }
  if (const auto flag = feature_flag(id)) {
    return m_bFeatureEnabled[*flag] != 0;
  }
  return true;
}

}  // namespace kbc::console
