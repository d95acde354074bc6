#include "secret.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <string.h>
#endif

namespace kbc::link {

void wipe(std::span<char> bytes) {
  if (bytes.empty()) {
    return;
  }
#ifdef _WIN32
  SecureZeroMemory(bytes.data(), bytes.size());
#else
  explicit_bzero(bytes.data(), bytes.size());
#endif
}

void wipe(std::span<std::uint8_t> bytes) {
  wipe(std::span(reinterpret_cast<char*>(bytes.data()), bytes.size()));
}

void wipe(std::string& text) {
  wipe(std::span(text.data(), text.capacity()));
  text.clear();
}

Secret::Secret(std::string&& text) noexcept : text_(std::move(text)) {
  // A short string is copied, not moved: its bytes are still in `text`.
  wipe(text);
}

Secret::Secret(std::string_view text) {
  // Room first, so that no buffer is outgrown and dropped unwiped.
  text_.reserve(text.size());
  text_.assign(text);
}

Secret::Secret(Secret&& other) noexcept : text_(std::move(other.text_)) {
  wipe(other.text_);
}

Secret& Secret::operator=(const Secret& other) {
  if (this != &other) {
    wipe(text_);
    text_.reserve(other.size());
    text_.assign(other.view());
  }
  return *this;
}

Secret& Secret::operator=(Secret&& other) noexcept {
  if (this != &other) {
    wipe(text_);
    text_ = std::move(other.text_);
    wipe(other.text_);
  }
  return *this;
}

}  // namespace kbc::link
