// A get_device_info reply as a rogue recorder may send it: the five lines stay five lines of
// text, and the JSON object is valid UTF-8.
#include <cstddef>
#include <cstdint>
#include <span>

#include "cli/json.h"
#include "console/identity.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto record = kbc::link::IdentityRecord::from_reply(std::span(data, size));
  const auto lines = kbc::console::device_info_lines(record);
  kbc::fuzz::check(lines.size() == 5);
  for (const std::string& line : lines) {
    kbc::fuzz::check_shown(line);
  }
  const std::string json = kbc::cli::identity_json(record);
  kbc::fuzz::check(kbc::console::is_valid_utf8(json));
  kbc::fuzz::check(json.find('\n') == std::string::npos);
  return 0;
}
