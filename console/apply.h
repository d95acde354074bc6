// Applying a station profile: per recorder one session of its own that sets the recorder's clock
// and everything the profile gives, each command as its button sends it and each outcome in its
// button's words, with a receipt of what was done. Several recorders are served at once, one
// thread each, after one scan of the bus.
//
//   const auto targets = ...;  // from link::scan_recorders(link), once
//   apply_to_recorders(link, targets, profile, password, clock, [&](Receipt receipt) {
//     ...show receipt.lines() or each step; called as each recorder finishes...
//   });
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "console/audit.h"
#include "console/console.h"
#include "console/handler.h"
#include "console/profile.h"
#include "console/target.h"
#include "link/gbk.h"
#include "link/port.h"
#include "link/secret.h"
#include "link/session.h"

namespace kbc::console {

// The key of the clock's step, which every run has first.
inline constexpr std::string_view kTimeKey = "time";

struct Step {
  std::string key;                    // kTimeKey, then the profile's keys in order
  std::string value;                  // what was sent: the time, the list item, the field's text
  std::optional<std::string> report;  // its button's report; nullopt when it was not sent
  bool ok = false;                    // the recorder carried it out
};

struct Receipt {
  std::string location;               // "001/005"
  std::optional<std::string> serial;  // get_sn's text in UTF-8; nullopt when it was not read
  Outcome outcome = Outcome::no_recorder;
  // What ended the run before the steps: the pre-check, no recorder, the wrong password.
  std::optional<std::string> report;
  std::vector<Step> steps;

  // Every step was carried out.
  bool ok() const { return outcome == Outcome::succeeded; }
  // Whether a session with the recorder was opened.
  bool reached() const;
  // The report lines in order, as the information pane shows a button's.
  std::vector<std::string> lines() const;
};

// The receipt as the information pane shows it: a line naming the recorder, the report lines, and
// the keys of the steps not sent.
std::vector<std::string> pane_lines(const Receipt& receipt);

// One recorder, in one session opened without scanning again: the full password pre-check, the
// administrator gate once, set_time with the PC's clock, the profile's settings, and one
// read-modify-write of the identity record for the unit fields. The first failure ends the run;
// the steps after it are not sent. The receipt's serial is left for the caller.
Receipt apply_profile(link::Link link, const link::UsbDevice& device, const Profile& profile,
                      const link::Secret& password, Clock& clock);

// The audit entry of one recorder's run: action "apply", the profile as its value ("video=...,
// unit-name=..."), the receipt's lines as its report; nullopt for a run that sent nothing.
std::optional<AuditEntry> audit_entry(const Receipt& receipt, const Profile& profile);

// Enters in `trail`, where there is one and it is writable, that the recorder chosen at `location`
// was not on the bus; nothing for the empty place of a pick that has left, which names none.
void enter_gone(AuditTrail* trail, const std::string& location, const Profile& profile);

// Called with each recorder's receipt as it finishes, never twice at once.
using ReceiptSink = std::function<void(Receipt receipt)>;

// Every target at once, each on a thread of its own that opens, serves and closes its recorder:
// first get_sn in a session of its own where the serial is unknown, then apply_profile(). Returns
// when all are done. `link` must be the one of the scan that listed the targets, and its port must
// not scan again before this returns.
void apply_to_recorders(const link::Link& link, std::span<const Target> targets,
                        const Profile& profile, const link::Secret& password, Clock& clock,
                        const ReceiptSink& done);

// apply_to_recorders(), each recorder's receipt entered in `trail` (where there is one and it is
// writable, asked once) before `done` hears of it.
void apply_and_enter(const link::Link& link, std::span<const Target> targets,
                     const Profile& profile, const link::Secret& password, Clock& clock,
                     AuditTrail* trail, const ReceiptSink& done);

}  // namespace kbc::console
