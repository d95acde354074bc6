// Password lines taken in pieces: the first byte says how many lines are wanted and how long the
// pieces are; no line grows past the bound or holds a line feed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "cli/password_lines.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using kbc::cli::PasswordLines;
  if (size < 1) {
    return 0;
  }
  const std::size_t wanted = data[0] % 4 + 1;
  const std::size_t piece = data[0] / 4 + 1;
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  PasswordLines lines(wanted);
  while (!rest.empty() && lines.state() == PasswordLines::State::wanting) {
    const std::size_t n = std::min(piece, rest.size());
    lines.take(rest.substr(0, n));
    rest.remove_prefix(n);
  }
  const bool too_long = lines.state() == PasswordLines::State::too_long;
  const auto taken = lines.finish();
  kbc::fuzz::check(taken.size() <= wanted);
  kbc::fuzz::check(!too_long || taken.size() < wanted);
  for (const auto& line : taken) {
    kbc::fuzz::check(line.size() <= kbc::cli::kLongestPasswordLine);
    kbc::fuzz::check(line.view().find('\n') == std::string_view::npos);
  }
  return 0;
}
