// What kbcctl prints for scripts with --json: its strings and lists, the identity record, and a
// command's report lines.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "link/identity.h"

namespace kbc::cli {

// A JSON string literal, quotes included. Control characters are escaped; a byte that is not part
// of valid UTF-8 becomes U+FFFD, so the result is always valid JSON.
std::string json_string(std::string_view utf8);

// json_string(), or null for no text.
std::string json_or_null(const std::optional<std::string>& utf8);

// ["...","..."]: each line a JSON string, in order.
std::string json_strings(std::span<const std::string> lines);

// {"serial_number":...,"user_number":...,"user_name":...,"unit_number":...,"unit_name":...}, each
// field as "info" shows it.
std::string identity_json(const link::IdentityRecord& record);

// {"ok":true,"lines":["成功设置系统时间:2024-3-5 7:8:9"]}: whether the command's success report
// came, and every report line in order.
std::string report_json(bool ok, std::span<const std::string> lines);

}  // namespace kbc::cli
