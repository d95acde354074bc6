// The fields of an audit entry in the system journal, shared by the programs that write entries
// and `kbcctl audit`, which reads them back.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "console/audit.h"

namespace kbc::journal {

inline constexpr std::string_view kAction = "KBC_ACTION";
inline constexpr std::string_view kValue = "KBC_VALUE";
inline constexpr std::string_view kLocation = "KBC_LOCATION";
inline constexpr std::string_view kSerial = "KBC_SERIAL";
inline constexpr std::string_view kOutcome = "KBC_OUTCOME";
inline constexpr std::string_view kReport = "KBC_REPORT";  // the lines joined by line feeds
inline constexpr std::string_view kOperator = "KBC_OPERATOR";

// The programs whose entries `kbcctl audit` reads: the window and kbcctl.
inline constexpr std::string_view kWindowIdentifier = "kbc-q7";
inline constexpr std::string_view kCliIdentifier = "kbcctl";

// "NAME=value" for each field of the entry, as the journal takes them: MESSAGE, PRIORITY,
// SYSLOG_IDENTIFIER, then the KBC_ fields. A field with nothing to say (no value, an unknown
// serial number) is left out.
std::vector<std::string> entry_fields(const console::AuditEntry& entry, std::string_view identifier,
                                      std::string_view operator_name);

}  // namespace kbc::journal
