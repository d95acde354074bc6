// How an operation becomes its audit entry: which recorder it addressed, what it was given, how it
// ended and what the operator was shown.
#include "console/console.h"
#include "console/control_ids.h"
#include "link/recorders.h"

namespace kbc::console {

bool Console::audited(int button, const std::function<bool()>& operation) {
  const std::string_view action = action_name(button);
  if (trail_ == nullptr || action.empty()) {
    return operation();
  }
  operation_ = Operation{.action = action, .changes = button != idc::device_info};
  view_.start();
  bool succeeded = false;
  {
    const ChoiceKept choice(link_);
    succeeded = operation();
  }
  std::vector<std::string> report = view_.finish();
  std::optional<Operation> done = std::exchange(operation_, std::nullopt);
  if (done) {
    if (const std::optional<AuditEntry> entry = entry_of(*done, std::move(report))) {
      trail_->write(*entry);
    }
  }
  return succeeded;
}

void Console::find_audited_recorder() {
  if (!operation_ || operation_->looked_up) {
    return;
  }
  operation_->looked_up = true;
  if (!trail_->writable()) {
    // Nothing would keep the entry: the operation goes exactly as it would without a trail.
    operation_.reset();
    return;
  }
  if (link_.location && chosen_serial_) {
    operation_->location = link_.location;
    operation_->serial = chosen_serial_;
    return;
  }
  const std::optional<link::ListedRecorder> found = link::identify_recorder(link_);
  if (!found) {
    // A chosen recorder that is gone is still the one the operator addressed; the empty place
    // of a pick that has left names none.
    if (link_.location && !link_.location->empty()) {
      operation_->location = link_.location;
    }
    return;
  }
  operation_->location = found->device.location();
  if (found->serial) {
    operation_->serial = found->serial->to_utf8();
  }
  // The operation acts on the recorder its entry names, even should another take its place.
  link_.location = operation_->location;
}

void Console::note_value(std::string value) {
  if (operation_) {
    operation_->value = std::move(value);
  }
}

void Console::note_outcome(AuditOutcome outcome) {
  if (operation_) {
    operation_->said = outcome;
  }
}

void Console::note_field(std::string name, std::string value) {
  if (operation_) {
    operation_->fields.emplace_back(std::move(name), std::move(value));
  }
}

std::optional<AuditEntry> Console::entry_of(Operation& operation,
                                            std::vector<std::string> report) const {
  const std::optional<AuditOutcome> outcome =
      outcome_ ? audit_outcome(*outcome_, operation.said) : std::nullopt;
  if (!outcome || !operation.location) {
    return std::nullopt;
  }
  return AuditEntry{operation.action,
                    std::move(operation.value),
                    std::move(*operation.location),
                    std::move(operation.serial),
                    *outcome,
                    std::move(report),
                    operation.changes,
                    std::move(operation.fields)};
}

}  // namespace kbc::console
