#include "journal/audit_reader.h"

#include <systemd/sd-journal.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>
#include <string_view>

#include "journal/fields.h"

namespace kbc::journal {
namespace {

struct JournalCloser {
  void operator()(sd_journal* j) const { sd_journal_close(j); }
};
using Journal = std::unique_ptr<sd_journal, JournalCloser>;

// The value of a field of the current entry; nullopt when the entry has none.
std::optional<std::string> field(sd_journal* j, std::string_view name) {
  const void* data = nullptr;
  std::size_t length = 0;
  if (sd_journal_get_data(j, std::string(name).c_str(), &data, &length) < 0) {
    return std::nullopt;
  }
  // "NAME=value"
  const std::string_view text(static_cast<const char*>(data), length);
  return std::string(text.substr(std::min(text.size(), name.size() + 1)));
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::optional<std::uint32_t> number(const std::optional<std::string>& text) {
  std::uint32_t n = 0;
  if (!text) {
    return std::nullopt;
  }
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), n);
  if (error != std::errc() || end != text->data() + text->size()) {
    return std::nullopt;
  }
  return n;
}

std::string error_text(std::string_view what, int rc) {
  return std::string(what) + ": " + std::strerror(-rc);
}

// The KBC_ fields of the current entry that AuditRecord has no member for.
std::map<std::string, std::string> extra_fields(sd_journal* j) {
  static constexpr std::string_view kKnown[] = {kAction,  kValue,  kLocation, kSerial,
                                                kOutcome, kReport, kOperator};
  std::map<std::string, std::string> fields;
  const void* data = nullptr;
  std::size_t length = 0;
  sd_journal_restart_data(j);
  while (sd_journal_enumerate_data(j, &data, &length) > 0) {
    const std::string_view text(static_cast<const char*>(data), length);
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos || !text.starts_with("KBC_")) {
      continue;
    }
    const std::string_view name = text.substr(0, equals);
    if (std::ranges::find(kKnown, name) == std::end(kKnown)) {
      fields.emplace(name, text.substr(equals + 1));
    }
  }
  return fields;
}

// Matches are ANDed across fields and ORed within one.
int add_match(sd_journal* j, std::string_view name, std::string_view value) {
  const std::string match = std::string(name) + "=" + std::string(value);
  return sd_journal_add_match(j, match.data(), match.size());
}

}  // namespace

std::optional<std::string> SystemJournal::read(const AuditQuery& query, const Each& each) {
  sd_journal* opened = nullptr;
  if (const int rc = sd_journal_open(&opened, 0); rc < 0) {
    return error_text("cannot open the journal", rc);
  }
  const Journal j(opened);
  if (sd_journal_has_runtime_files(j.get()) <= 0 && sd_journal_has_persistent_files(j.get()) <= 0) {
    return std::string(
        "no journal file is readable here; the system's journal is readable by root and by the "
        "members of the groups 'systemd-journal' and 'adm'");
  }
  int rc = add_match(j.get(), "SYSLOG_IDENTIFIER", kWindowIdentifier);
  if (rc >= 0) {
    rc = add_match(j.get(), "SYSLOG_IDENTIFIER", kCliIdentifier);
  }
  if (rc >= 0 && query.serial) {
    rc = add_match(j.get(), kSerial, *query.serial);
  }
  if (rc >= 0 && query.field) {
    rc = add_match(j.get(), query.field->first, query.field->second);
  }
  if (rc < 0) {
    return error_text("cannot select the entries", rc);
  }
  rc = query.since_usec ? sd_journal_seek_realtime_usec(j.get(), *query.since_usec)
                        : sd_journal_seek_head(j.get());
  if (rc < 0) {
    return error_text("cannot seek in the journal", rc);
  }

  while ((rc = sd_journal_next(j.get())) > 0) {
    std::optional<std::string> action = field(j.get(), kAction);
    if (!action) {
      continue;  // the programs' other messages, such as their standard error under a service
    }
    AuditRecord record;
    if (sd_journal_get_realtime_usec(j.get(), &record.time_usec) < 0 ||
        (query.since_usec && record.time_usec < *query.since_usec)) {
      continue;
    }
    record.action = std::move(*action);
    record.host = field(j.get(), "_HOSTNAME").value_or("");
    record.program = field(j.get(), "SYSLOG_IDENTIFIER").value_or("");
    record.uid = number(field(j.get(), "_UID"));
    record.operator_name = field(j.get(), kOperator).value_or("");
    record.value = field(j.get(), kValue);
    record.location = field(j.get(), kLocation);
    record.serial = field(j.get(), kSerial);
    record.outcome = field(j.get(), kOutcome).value_or("");
    if (const std::optional<std::string> report = field(j.get(), kReport)) {
      record.report = lines_of(*report);
    }
    record.message = field(j.get(), "MESSAGE").value_or("");
    record.fields = extra_fields(j.get());
    each(record);
  }
  if (rc < 0) {
    return error_text("cannot read the journal", rc);
  }
  return std::nullopt;
}

}  // namespace kbc::journal
