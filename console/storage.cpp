#include "console/console.h"
#include "console/control_ids.h"
#include "console/messages.h"

namespace kbc::console {

bool Console::switch_to_disk() {
  const Outcome outcome = run({PreCheck::full, Gate::either}, [&](Call& call) {
    // The field is read again for the command itself.
    const link::GbkText password = read_password(view_).value_or(link::GbkText{});
    // The recorder's reply means nothing here, but both transfers must have gone through before
    // the operator is told to replug.
    if (!link::switch_msdc(call.device, password)) {
      call.report(msg::reconnect);
      return false;
    }
    call.report(msg::msdc_done);
    call.report(msg::msdc_replug);
    return true;
  });
  return succeeded(outcome);
}

bool Console::erase_all_files() {
  const Outcome outcome = run({PreCheck::full, Gate::admin}, [&](Call& call) {
    // The session stays open while the questions are up; no second check follows them.
    if (!view_.ask_yes_no(msg::erase_first_question, msg::erase_caption) ||
        !view_.ask_yes_no(msg::erase_second_question, msg::erase_caption)) {
      note_outcome(AuditOutcome::cancelled);
      call.report(msg::erase_cancelled);
      return false;
    }
    call.report(msg::erase_starting);
    if (link::clear_all_files(call.device) != link::spec(link::Cmd::clear_all_files).statuses.ok) {
      call.report(msg::erase_failed);
      return false;
    }
    call.report(msg::erase_done);
    return true;
  });
  return succeeded(outcome);
}

}  // namespace kbc::console
