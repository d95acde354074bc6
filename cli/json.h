// The identity record as one JSON object, for scripts.
#pragma once

#include <string>
#include <string_view>

#include "link/identity.h"

namespace kbc::cli {

// A JSON string literal, quotes included. Control characters are escaped; a byte that is not part
// of valid UTF-8 becomes U+FFFD, so the result is always valid JSON.
std::string json_string(std::string_view utf8);

// {"serial_number":...,"user_number":...,"user_name":...,"unit_number":...,"unit_name":...}, each
// field as "info" shows it.
std::string identity_json(const link::IdentityRecord& record);

}  // namespace kbc::cli
