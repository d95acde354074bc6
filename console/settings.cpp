#include "console/console.h"
#include "console/messages.h"

namespace kbc::console {

Sent send_and_report(const Call& call, const Setting& setting) {
  const link::Status status = send_setting(call.device, setting);
  if (status == success_status(setting)) {
    call.report(setting.success);
    return Sent::done;
  }
  // Only set_motion_on has a refusal, and its row the report for it.
  const auto refused = link::spec(setting.cmd).refused;
  if (refused && status == *refused) {
    call.report(setting.refused);
    return Sent::refused;
  }
  call.report(msg::reconnect);
  return Sent::failed;
}

bool Console::apply_setting(const SettingButton& button) {
  const Outcome outcome = run(button.sequence, [&](Call& call) {
    const std::string selection = view_.selection_text(button.list);
    if (selection.empty()) {
      call.report(button.nothing_chosen);
      return false;
    }
    note_value(selection);
    const Setting* setting = find_setting(button, selection);
    if (setting == nullptr) {
      return false;  // an item of no row: nothing to send, nothing to say
    }
    const Sent sent = send_and_report(call, *setting);
    if (sent == Sent::refused) {
      note_outcome(AuditOutcome::refused);
    }
    return sent == Sent::done;
  });
  return succeeded(outcome);
}

}  // namespace kbc::console
