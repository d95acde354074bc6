// kbcctl audit's two parsers of what it is given: --since's time, and an entry's fields, which
// anyone may write under the programs' names. A span before now is never after now; an entry
// is always shown as one line of text and as valid JSON.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cli/audit.h"
#include "fuzz_check.h"

namespace {

// The input cut at its zero bytes, field after field.
std::string next_field(std::string_view& input) {
  const std::size_t end = std::min(input.find('\0'), input.size());
  std::string field(input.substr(0, end));
  input.remove_prefix(std::min(input.size(), end + 1));
  return field;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto now = std::chrono::system_clock::time_point(std::chrono::seconds(1796711405));
  if (const auto since = kbc::cli::parse_since(input, now); since && input.starts_with('-')) {
    kbc::fuzz::check(*since <= 1796711405000000);
  }

  kbc::journal::AuditRecord record;
  record.time_usec = size * 1000003;
  record.host = next_field(input);
  record.program = next_field(input);
  record.operator_name = next_field(input);
  record.action = next_field(input);
  record.value = next_field(input);
  record.serial = next_field(input);
  record.location = next_field(input);
  record.outcome = next_field(input);
  while (!input.empty()) {
    record.report.push_back(next_field(input));
  }
  kbc::fuzz::check_shown(kbc::cli::audit_line(record));
  const std::string json = kbc::cli::audit_json(record);
  kbc::fuzz::check(kbc::console::is_valid_utf8(json));
  for (const char c : json) {
    kbc::fuzz::check(static_cast<unsigned char>(c) >= 0x20);
  }
  return 0;
}
