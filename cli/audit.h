// `kbcctl audit`: the audit entries of both programs from the journal, one line or one JSON
// object each, oldest first.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "journal/audit_reader.h"

namespace kbc::cli {

// The time --since names, in microseconds since the epoch: "2026-12-08", "2026-12-08 14:30",
// "2026-12-08 14:30:05" (or with a "T") in local time, "today", "yesterday", "now", or "-N" with
// s, min, h, d or w before `now`. nullopt for anything else.
std::optional<std::uint64_t> parse_since(std::string_view text,
                                         std::chrono::system_clock::time_point now);

// "2026-12-08 14:30:05 alice@station kbcctl: unit-name '深圳市公安局' on KBC0001234 (001/005): ok:
// 设置单位名称成功", every report line after the outcome, separated by " | ". The entry's texts are
// shown as text: anyone may write entries under these names. UTF-8.
std::string audit_line(const journal::AuditRecord& record);

// {"time":"2026-12-08T14:30:05.000123+08:00","host":...,"program":...,"uid":...,"operator":...,
//  "action":...,"value":...,"location":...,"serial":...,"outcome":...,"report":[...],
//  "message":...}; null for a field the entry does not have.
std::string audit_json(const journal::AuditRecord& record);

}  // namespace kbc::cli
