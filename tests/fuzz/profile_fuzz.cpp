// A station profile as any file may hold it: refused with the lines of the file in order, each
// problem said in both languages, or taken with only
// known keys in the settings bar's order, each value one its command takes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <variant>

#include "console/profile.h"
#include "fuzz_check.h"
#include "link/gbk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto parsed = kbc::console::parse_profile(text);
  if (const auto* error = std::get_if<kbc::console::ProfileError>(&parsed)) {
    kbc::fuzz::check(!error->problems.empty());
    std::size_t line = 1;
    for (const kbc::console::ProfileProblem& problem : error->problems) {
      kbc::fuzz::check(problem.line >= line);
      line = problem.line;
      kbc::fuzz::check(!problem.said.english.empty() && !problem.said.chinese.empty());
    }
    return 0;
  }
  const auto keys = kbc::console::profile_keys();
  std::size_t last = 0;
  for (const kbc::console::ProfileEntry& entry : std::get<kbc::console::Profile>(parsed).entries) {
    const auto at = static_cast<std::size_t>(std::ranges::find(keys, entry.key) - keys.begin());
    kbc::fuzz::check(at < keys.size() && at >= last);
    last = at + 1;
    kbc::fuzz::check((entry.item != nullptr) != (entry.field != nullptr));
    const std::string value = entry.value();
    kbc::fuzz::check_shown(value);
    const auto size = kbc::link::gbk_size(value);
    kbc::fuzz::check(size && *size >= 1);
    if (entry.field != nullptr) {
      kbc::fuzz::check(*size <= entry.field->max_bytes);
    }
  }
  return 0;
}
