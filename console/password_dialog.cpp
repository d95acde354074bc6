#include "console/password_dialog.h"

#include <optional>

#include "console/console.h"
#include "console/control_ids.h"
#include "console/handler.h"
#include "console/identity.h"
#include "console/messages.h"
#include "link/command_table.h"
#include "link/commands.h"
#include "link/gbk.h"

namespace kbc::console {

int g_passwordRole = 0;

namespace {

constexpr int kFieldChars = 6;
constexpr int kFields[] = {idc::old_password, idc::new_password, idc::confirm_password};

// The commands of one role's procedure: its own password's check and set, and the check of the
// other password that the new one must not equal.
struct Procedure {
  link::Cmd check_own;
  link::Cmd check_other;
  link::Cmd set;
};

Procedure procedure_of(PasswordRole role) {
  if (role == PasswordRole::super) {
    return {link::Cmd::check_admin_psw, link::Cmd::check_normal_psw, link::Cmd::set_admin_psw};
  }
  return {link::Cmd::check_normal_psw, link::Cmd::check_admin_psw, link::Cmd::set_normal_psw};
}

bool matched(link::Device& device, link::Cmd cmd, const link::GbkText& text) {
  return link::run(device, cmd, text.span()) == link::spec(cmd).statuses.ok;
}

// The last attempt tells how the dialog ended; closed without one, it was cancelled.
AuditOutcome dialog_outcome(const std::vector<ChangeResult>& attempts) {
  if (attempts.empty()) {
    return AuditOutcome::cancelled;
  }
  switch (attempts.back().kind) {
    case ChangeResult::Kind::no_recorder:
      return AuditOutcome::no_recorder;
    case ChangeResult::Kind::refused:
      return AuditOutcome::refused;
    case ChangeResult::Kind::incomplete:
    case ChangeResult::Kind::failed:
      return AuditOutcome::failed;
    case ChangeResult::Kind::changed:
      return AuditOutcome::ok;
  }
  return AuditOutcome::failed;
}

PasswordRole role_of(const GateChecks& checks) {
  if (checks.normal_matched()) {
    return PasswordRole::normal;
  }
  if (checks.admin_matched()) {
    return PasswordRole::super;
  }
  return PasswordRole::none;
}

}  // namespace

ChangeResult change_password(link::Link link, PasswordRole role, const PasswordEntry& entry) {
  using Kind = ChangeResult::Kind;
  link::Session session = link::Session::open(link);
  if (!session.ready()) {
    return {Kind::no_recorder, session_failure(session)};
  }
  if (entry.old_password.empty()) {
    return {Kind::incomplete, msg::enter_old_password};
  }
  if (entry.new_password.empty()) {
    return {Kind::incomplete, msg::enter_new_password};
  }
  if (entry.confirmation.empty()) {
    return {Kind::incomplete, msg::enter_new_password_again};
  }

  // The recorder judges the old password before anything is said about the new one. A text GBK
  // cannot encode is no password the recorder can hold, and has no valid length.
  const Procedure procedure = procedure_of(role);
  link::Device& device = session.device();
  const std::optional<link::GbkText> old_text = link::GbkText::from_utf8(entry.old_password.view());
  if (!old_text || !matched(device, procedure.check_own, *old_text)) {
    return {Kind::refused, msg::old_password_wrong};
  }
  const std::optional<link::GbkText> new_text = link::GbkText::from_utf8(entry.new_password.view());
  if (!new_text || new_text->size() != kPasswordSize) {
    return {Kind::incomplete, msg::new_password_length};
  }
  if (entry.confirmation != entry.new_password) {
    return {Kind::incomplete, msg::new_password_mismatch};
  }
  if (matched(device, procedure.check_other, *new_text)) {
    return {Kind::refused, msg::password_conflict};
  }
  if (!matched(device, procedure.set, *new_text)) {
    return {Kind::failed, msg::password_change_failed};
  }
  return {Kind::changed, msg::password_changed};
}

void PasswordDialog::initialise(DialogView& view) {
  role_ = static_cast<PasswordRole>(g_passwordRole);
  for (int id : kFields) {
    view.limit_field(id, kFieldChars);
  }
  const bool super = role_ == PasswordRole::super;
  if (role_ != PasswordRole::none) {
    view.set_title(super ? msg::super_title : msg::normal_title);
    view.show_control(idc::confirm_super, super);
    view.show_control(idc::confirm_normal, !super);
    view.show_control(idc::super_hint, super);
  }
  if (role_ == PasswordRole::normal) {
    view.halve_width();
  }
}

bool PasswordDialog::changed() const {
  return !attempts_.empty() && attempts_.back().kind == ChangeResult::Kind::changed;
}

int PasswordDialog::confirm_button() const {
  return role_ == PasswordRole::super ? idc::confirm_super : idc::confirm_normal;
}

void PasswordDialog::on_command(DialogView& view, int id) {
  switch (id) {
    case idc::confirm_super:
      confirm(view, PasswordRole::super);
      break;
    case idc::confirm_normal:
      confirm(view, PasswordRole::normal);
      break;
    case idc::ok:
      // Enter does what the visible "确定" does, the conflict check included.
      if (role_ != PasswordRole::none) {
        confirm(view, role_);
      }
      break;
    default:
      break;
  }
}

void PasswordDialog::on_field_changed(DialogView& view, int id) {
  // The field holds a password: its copy is wiped too.
  const link::Secret text = view.field_text(id);
  if (!letters_and_digits_only(text.view())) {
    view.show_message(msg::letters_and_digits_only, MessageIcon::warning);
    view.set_field_text(id, "");
  }
}

void PasswordDialog::confirm(DialogView& view, PasswordRole procedure) {
  const ChangeResult result =
      change_password(link_, procedure,
                      {view.field_text(idc::old_password), view.field_text(idc::new_password),
                       view.field_text(idc::confirm_password)});
  attempts_.push_back(result);
  view.show_message(result.report, result.kind == ChangeResult::Kind::changed
                                       ? MessageIcon::information
                                       : MessageIcon::warning);
  switch (result.kind) {
    case ChangeResult::Kind::changed:
      view.accept();
      break;
    case ChangeResult::Kind::incomplete:
    case ChangeResult::Kind::refused:
    case ChangeResult::Kind::failed:
      for (int id : kFields) {
        view.set_field_text(id, "");
      }
      break;
    case ChangeResult::Kind::no_recorder:
      break;
  }
}

bool Console::open_password_dialog() {
  const Outcome outcome = run({PreCheck::full, Gate::none}, [this](Call& call) {
    g_passwordRole = 0;
    const PasswordRole role = role_of(check_passwords(call.device, call.password, Gate::either));
    g_passwordRole = static_cast<int>(role);
    if (role == PasswordRole::none) {
      note_outcome(AuditOutcome::refused);
      call.report(msg::wrong_password);
      return false;
    }
    // Which password is changed, never what it is.
    note_value(role == PasswordRole::super ? "super" : "normal");
    return true;
  });
  // The session is closed by now; the dialog opens its own for each attempt.
  if (!succeeded(outcome)) {
    return false;
  }
  PasswordDialog dialog(link_);
  view_.run_password_dialog(dialog);
  note_outcome(dialog_outcome(dialog.attempts()));
  for (const ChangeResult& attempt : dialog.attempts()) {
    view_.keep(attempt.report);
  }
  return dialog.changed();
}

}  // namespace kbc::console
