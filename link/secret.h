// Passwords leave no copy behind: the memory that held one is zeroed before it is given back, with
// a call the compiler may not drop as a dead store.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kbc::link {

void wipe(std::span<char> bytes);
void wipe(std::span<std::uint8_t> bytes);
// Zeroes every byte of the string's buffer, its spare capacity included, then empties it.
void wipe(std::string& text);

// Zeroes a buffer when the scope ends, on every way out.
class WipeOnExit {
 public:
  explicit WipeOnExit(std::span<std::uint8_t> bytes) : bytes_(bytes) {}
  ~WipeOnExit() { wipe(bytes_); }
  WipeOnExit(const WipeOnExit&) = delete;
  WipeOnExit& operator=(const WipeOnExit&) = delete;

 private:
  std::span<std::uint8_t> bytes_;
};

// Text that is wiped when it goes: a password in a view's field, a dialog or a command line. Every
// copy is a Secret too; only view() hands the bytes out, for as long as the Secret lives.
class Secret {
 public:
  Secret() = default;
  // Takes the string over and wipes what it leaves behind, so that a field's text can go straight
  // in: `Secret password = view.field_text(id);`
  Secret(std::string&& text) noexcept;
  explicit Secret(std::string_view text);
  Secret(const char* text) : Secret(std::string_view(text)) {}
  Secret(const Secret& other) : Secret(other.view()) {}
  Secret(Secret&& other) noexcept;
  Secret& operator=(const Secret& other);
  Secret& operator=(Secret&& other) noexcept;
  ~Secret() { wipe(text_); }

  std::string_view view() const { return text_; }
  // For a C library that copies it: the bytes and a NUL.
  const char* c_str() const { return text_.c_str(); }
  std::size_t size() const { return text_.size(); }
  bool empty() const { return text_.empty(); }
  // Wipes it now rather than when it goes.
  void clear() { wipe(text_); }

  friend bool operator==(const Secret& a, const Secret& b) { return a.view() == b.view(); }

 private:
  std::string text_;
};

}  // namespace kbc::link
