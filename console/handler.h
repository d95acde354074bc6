// The sequence every console button runs: password pre-check, a session of its own, the password
// gate, the button's own commands, and the session closed again on every way out.
//
//   Outcome outcome = run_handler(view, link, {PreCheck::full, Gate::admin}, [&](Call& call) {
//     ...send commands on call.device with call.password, call.report(...)...
//     return true;  // only when the success report was made
//   });
//
// run_sequence() is the same without a view, for an operation that reads its password and
// reports elsewhere and opens a recorder that was listed before.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>

#include "console/view.h"
#include "link/commands.h"
#include "link/gbk.h"
#include "link/session.h"

namespace kbc::console {

// Both recorder passwords are six GBK bytes.
inline constexpr std::size_t kPasswordSize = 6;

enum class PreCheck {
  full,            // empty: "请输入密码!"; not six bytes: "密码长度有误!"
  short_length,    // not six bytes, empty included: "密码长度有误!"
  short_password,  // not six bytes, empty included: "密码错误!"
};

enum class Gate {
  none,
  admin,   // check_admin_psw must match
  either,  // check_normal_psw then check_admin_psw, both always; either match passes
};

struct Sequence {
  PreCheck pre_check;
  Gate gate;
};

// What the gate's commands reported; a command the gate did not send stays empty.
struct GateChecks {
  std::optional<link::Status> normal;
  std::optional<link::Status> admin;

  bool normal_matched() const;
  bool admin_matched() const;
};

// Sends the gate's commands with the password.
GateChecks check_passwords(link::Device& device, const link::GbkText& password, Gate gate);
bool passes(Gate gate, const GateChecks& checks);

// The password field in GBK; nullopt when GBK cannot encode it.
std::optional<link::GbkText> read_password(View& view);

// The pre-check's report for this password, or nullopt when it may go on. A text GBK cannot encode
// (nullopt) has no valid length.
std::optional<std::string_view> pre_check_failure(PreCheck form,
                                                  const std::optional<link::GbkText>& password);

// What a session that did not open reports: "重新连接!", or the request to choose a recorder
// when several are connected and none is chosen.
std::string_view session_failure(const link::Session& session);

// Where a sequence's report lines go, one at a time, in UTF-8.
using Report = std::function<void(std::string_view text)>;

// What a button's body works with while its session is open.
struct Call {
  link::Device& device;
  const link::GbkText& password;  // the text the pre-check passed
  GateChecks checks;
  Report report;
};

// True when the body made its success report.
using Body = std::function<bool(Call&)>;

enum class Outcome {
  pre_check_failed,     // reported; nothing sent
  no_recorder,          // "重新连接!"; nothing sent
  recorder_not_chosen,  // several recorders and none chosen: reported; nothing sent
  gate_failed,          // "密码错误!"; the session was opened and closed
  body_failed,          // the body ran and made no success report
  succeeded,            // the body made its success report
};

inline bool succeeded(Outcome outcome) {
  return outcome == Outcome::succeeded;
}

// Opens the session the sequence runs in.
using Opener = std::function<link::Session()>;

// The sequence on a password already read (nullopt: GBK cannot encode it).
Outcome run_sequence(const std::optional<link::GbkText>& password, const Opener& open,
                     const Report& report, const Sequence& sequence, const Body& body);

// The sequence with the password field of the view, reporting to it, on the link's recorder.
// `reaching` runs once the pre-check has passed, just before the session opens.
Outcome run_handler(View& view, link::Link& link, const Sequence& sequence, const Body& body,
                    const std::function<void()>& reaching = {});

}  // namespace kbc::console
