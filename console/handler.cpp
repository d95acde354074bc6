#include "console/handler.h"

#include "console/control_ids.h"
#include "console/messages.h"
#include "link/command_table.h"
#include "link/secret.h"

namespace kbc::console {

bool GateChecks::normal_matched() const {
  return normal == link::spec(link::Cmd::check_normal_psw).statuses.ok;
}

bool GateChecks::admin_matched() const {
  return admin == link::spec(link::Cmd::check_admin_psw).statuses.ok;
}

GateChecks check_passwords(link::Device& device, const link::GbkText& password, Gate gate) {
  GateChecks checks;
  if (gate == Gate::either) {
    checks.normal = link::check_normal_psw(device, password);
  }
  if (gate != Gate::none) {
    checks.admin = link::check_admin_psw(device, password);
  }
  return checks;
}

bool passes(Gate gate, const GateChecks& checks) {
  switch (gate) {
    case Gate::none:
      return true;
    case Gate::admin:
      return checks.admin_matched();
    case Gate::either:
      return checks.normal_matched() || checks.admin_matched();
  }
  return false;
}

std::optional<link::GbkText> read_password(View& view) {
  const link::Secret text = view.field_text(idc::password);
  return link::GbkText::from_utf8(text.view());
}

std::optional<std::string_view> pre_check_failure(PreCheck form,
                                                  const std::optional<link::GbkText>& password) {
  const bool six_bytes = password && password->size() == kPasswordSize;
  switch (form) {
    case PreCheck::full:
      if (password && password->empty()) {
        return msg::enter_password;
      }
      [[fallthrough]];
    case PreCheck::short_length:
      return six_bytes ? std::nullopt : std::optional(msg::password_length);
    case PreCheck::short_password:
      return six_bytes ? std::nullopt : std::optional(msg::wrong_password);
  }
  return std::nullopt;
}

std::string_view session_failure(const link::Session& session) {
  return session.state() == link::Session::State::several_recorders ? msg::choose_recorder
                                                                    : msg::reconnect;
}

Outcome run_sequence(const std::optional<link::GbkText>& password, const Opener& open,
                     const Report& report, const Sequence& sequence, const Body& body) {
  if (const auto failure = pre_check_failure(sequence.pre_check, password)) {
    report(*failure);
    return Outcome::pre_check_failed;
  }

  // Closes the device when it goes out of scope, whichever way the handler leaves.
  link::Session session = open();
  if (!session.ready()) {
    report(session_failure(session));
    return session.state() == link::Session::State::several_recorders ? Outcome::recorder_not_chosen
                                                                      : Outcome::no_recorder;
  }

  // The pre-check passed, so the password has its GBK form.
  const link::GbkText& text = *password;
  Call call{session.device(), text, check_passwords(session.device(), text, sequence.gate), report};
  if (!passes(sequence.gate, call.checks)) {
    call.report(msg::wrong_password);
    return Outcome::gate_failed;
  }
  return body(call) ? Outcome::succeeded : Outcome::body_failed;
}

Outcome run_handler(View& view, link::Link& link, const Sequence& sequence, const Body& body,
                    const std::function<void()>& reaching) {
  const Opener open = [&] {
    if (reaching) {
      reaching();
    }
    return link::Session::open(link);
  };
  return run_sequence(
      read_password(view), open, [&](std::string_view text) { view.append_line(text); }, sequence,
      body);
}
}  // namespace kbc::console
