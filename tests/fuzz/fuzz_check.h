// What every fuzz target asserts: a broken promise aborts, so that libFuzzer keeps the input.
#pragma once

#include <cstdlib>
#include <string_view>

#include "console/utf8.h"

namespace kbc::fuzz {

inline void check(bool promise) {
  if (!promise) {
    std::abort();
  }
}

// Shown text: valid UTF-8 on one line, nothing a terminal would obey.
inline void check_shown(std::string_view text) {
  check(console::is_valid_utf8(text));
  for (const char c : text) {
    check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f);
  }
}

}  // namespace kbc::fuzz
