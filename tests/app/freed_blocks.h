// Searches the memory a thread gives back with free() for a text, to show that a copy of a
// password was wiped before it went: the program's own copies are freed through free(), directly
// (Qt's containers) or through operator delete (std::string).
#pragma once

#include <string_view>

namespace kbc::app {

class FreedBlockWatch {
 public:
  // Where free() can be watched; not under AddressSanitizer, which has a free() of its own.
  static bool available();

  // From now on, until it goes, every block freed on this thread is searched for `text` (at most
  // 64 bytes). One watch at a time.
  explicit FreedBlockWatch(std::string_view text);
  ~FreedBlockWatch();
  FreedBlockWatch(const FreedBlockWatch&) = delete;
  FreedBlockWatch& operator=(const FreedBlockWatch&) = delete;

  // How many freed blocks held it.
  int found() const;
};

}  // namespace kbc::app
