// Reading UTF-8 one character at a time, strictly: no overlong forms, no surrogates, nothing past
// U+10FFFF.
#pragma once

#include <cstddef>
#include <string_view>

namespace kbc::console {

struct Utf8Char {
  char32_t code;
  std::size_t length;  // bytes; 0 when `text` does not start with a valid sequence
};

// The character at the start of a non-empty text.
Utf8Char first_utf8_char(std::string_view text);

bool is_valid_utf8(std::string_view text);

}  // namespace kbc::console
