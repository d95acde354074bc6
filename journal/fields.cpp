#include "journal/fields.h"

namespace kbc::journal {
namespace {

std::string field(std::string_view name, std::string_view value) {
  return std::string(name) + "=" + std::string(value);
}

}  // namespace

std::vector<std::string> entry_fields(const console::AuditEntry& entry, std::string_view identifier,
                                      std::string_view operator_name) {
  std::string report;
  for (const std::string& line : entry.report) {
    report += report.empty() ? "" : "\n";
    report += line;
  }
  std::vector<std::string> fields{
      field("MESSAGE", entry.message()),
      field("PRIORITY", std::to_string(static_cast<int>(entry.severity()))),
      field("SYSLOG_IDENTIFIER", identifier),
      field(kAction, entry.action),
  };
  if (!entry.value.empty()) {
    fields.push_back(field(kValue, entry.value));
  }
  fields.push_back(field(kLocation, entry.location));
  if (entry.serial) {
    fields.push_back(field(kSerial, *entry.serial));
  }
  fields.push_back(field(kOutcome, console::outcome_name(entry.outcome)));
  if (!report.empty()) {
    fields.push_back(field(kReport, report));
  }
  fields.push_back(field(kOperator, operator_name));
  for (const auto& [name, value] : entry.fields) {
    fields.push_back(field(name, value));
  }
  return fields;
}

}  // namespace kbc::journal
