#include "console/console.h"
#include "console/control_ids.h"
#include "console/messages.h"
#include "link/recorders.h"

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

std::optional<std::string> Console::serial_to_erase() {
  if (operation_ && operation_->serial) {
    return operation_->serial;
  }
  if (link_.location && chosen_serial_) {
    return chosen_serial_;
  }
  const std::optional<link::ListedRecorder> found = link::identify_recorder(link_);
  if (!found) {
    return std::nullopt;
  }
  // The questions speak of this recorder: the erase goes to it, should another take its place.
  link_.location = found->device.location();
  return found->serial ? std::optional(found->serial->to_utf8()) : std::nullopt;
}

bool Console::erase_all_files() {
  const ChoiceKept choice(link_);
  std::optional<std::string> serial;
  const auto reaching = [&] {
    if (ledger_ != nullptr) {
      serial = serial_to_erase();
    }
  };
  const Outcome outcome = run(
      {PreCheck::full, Gate::admin},
      [&](Call& call) {
        // Without an evidence store the questions are the seed's; with one, the first states what
        // was offloaded, and the station's rule may refuse before anything is asked.
        std::string first(msg::erase_first_question);
        if (ledger_ != nullptr) {
          const std::optional<OffloadFact> fact =
              serial ? ledger_->newest_verified(*serial) : std::nullopt;
          const auto now =
              std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
          // The entry says under which rule, and names the bag that let the erase go, so that an
          // audit can hold it against the journal's entry of that bag later.
          note_field("KBC_ERASE_RULE", std::string(rule_name(erase_policy_.rule)));
          note_field("KBC_OFFLOAD_WINDOW", span_name(erase_policy_.window, erase_policy_.unit));
          if (fact) {
            note_field("KBC_BAG", fact->bag);
            note_field("KBC_TAGMANIFEST_SHA256", fact->tagmanifest_sha256);
          }
          if (without_offload_) {
            note_value("without-offload");
          } else if (!erase_allowed(erase_policy_, fact, now)) {
            note_outcome(AuditOutcome::refused);
            call.report(erase_refusal(erase_policy_));
            return false;
          }
          first += "\n" + offload_fact_line(serial, fact);
        }
        // The session stays open while the questions are up; no second check follows them.
        if (!view_.ask_yes_no(first, msg::erase_caption) ||
            !view_.ask_yes_no(msg::erase_second_question, msg::erase_caption)) {
          note_outcome(AuditOutcome::cancelled);
          call.report(msg::erase_cancelled);
          return false;
        }
        call.report(msg::erase_starting);
        if (link::clear_all_files(call.device) !=
            link::spec(link::Cmd::clear_all_files).statuses.ok) {
          call.report(msg::erase_failed);
          return false;
        }
        call.report(msg::erase_done);
        return true;
      },
      reaching);
  return succeeded(outcome);
}

}  // namespace kbc::console
