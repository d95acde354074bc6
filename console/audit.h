// The audit trail: one entry for every operation that addressed a recorder, saying which recorder,
// what was asked, how it ended and what the operator was shown. Where the entries go (the system
// journal, or a test's list) is the AuditTrail's business.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/handler.h"

namespace kbc::console {

enum class AuditOutcome {
  ok,
  refused,    // a wrong password, or the recorder would not (motion detection while pre-recording)
  failed,     // a transfer failed, or the operation stopped at what the operator gave it
  cancelled,  // the operator said No
  no_recorder,  // the recorder was not there when the operation's session opened
};

// "ok", "refused", "failed", "cancelled", "no-recorder".
std::string_view outcome_name(AuditOutcome outcome);

// What an entry tells of a handler sequence that ended so, where its report said more (`said`:
// refused, cancelled); nullopt where nothing was sent to any recorder, which enters nothing.
std::optional<AuditOutcome> audit_outcome(Outcome handled,
                                          std::optional<AuditOutcome> said = std::nullopt);

// Syslog's levels, so that the journal can filter on them.
enum class Severity { warning = 4, notice = 5, info = 6 };

struct AuditEntry {
  std::string_view action;  // as kbcctl names the command: "erase", "unit-name", ...
  std::string value;        // the item chosen or the text written; the role for passwd; or none
  std::string location;     // "001/005"
  std::optional<std::string> serial;  // get_sn's text; nullopt when the recorder did not give it
  AuditOutcome outcome;
  std::vector<std::string> report;  // every line and message the operator was shown, in order
  bool changes;                     // false for an operation that only reads
  // More fields of the entry, by their journal names ("KBC_SHA256"): an offload's files and bag.
  std::vector<std::pair<std::string, std::string>> fields = {};

  // "erase on KBC0001234 (001/005): 清除文件成功": the last thing the operator was shown.
  std::string message() const;
  // Warning for an outcome that is a failure, otherwise notice for a change and info for a read.
  Severity severity() const;
};

// The name an operation's entry carries for a button of the settings bar; empty for an id that is
// no button.
std::string_view action_name(int button);

class AuditTrail {
 public:
  virtual ~AuditTrail() = default;
  // Whether an entry written now would be kept. Asked before each operation, so that nothing is
  // sent to the recorder for an entry that goes nowhere.
  virtual bool writable() = 0;
  virtual void write(const AuditEntry& entry) = 0;
};

}  // namespace kbc::console
