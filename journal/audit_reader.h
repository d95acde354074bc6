// Reading the audit entries of both programs back from the system journal, oldest first.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kbc::journal {

// One entry as the journal holds it. The KBC_ fields are what the writing program said; the time,
// host and user number are the journal's own.
struct AuditRecord {
  std::uint64_t time_usec = 0;  // since the epoch
  std::string host;
  std::string program;  // SYSLOG_IDENTIFIER
  std::optional<std::uint32_t> uid;
  std::string operator_name;
  std::string action;
  std::optional<std::string> value;
  std::optional<std::string> location;
  std::optional<std::string> serial;
  std::string outcome;
  std::vector<std::string> report;
  std::string message;
  // The entry's other KBC_ fields by name, such as an offload's KBC_SHA256.
  std::map<std::string, std::string> fields;
};

struct AuditQuery {
  std::optional<std::string> serial;        // only entries of this recorder
  std::optional<std::uint64_t> since_usec;  // only entries from this time on
  // Only entries with this field ("KBC_BAG_NAME", "KBC0001_20261208T143005Z").
  std::optional<std::pair<std::string, std::string>> field;
};

class AuditSource {
 public:
  virtual ~AuditSource() = default;
  using Each = std::function<void(const AuditRecord& record)>;
  // Calls `each` for every entry of the two programs that the query selects, oldest first.
  // nullopt when read; otherwise why the journal could not be read.
  virtual std::optional<std::string> read(const AuditQuery& query, const Each& each) = 0;
};

// The journal files of this machine that the user may read (sd_journal_open).
class SystemJournal final : public AuditSource {
 public:
  std::optional<std::string> read(const AuditQuery& query, const Each& each) override;
};

}  // namespace kbc::journal
