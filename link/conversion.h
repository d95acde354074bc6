// iconv from one character set to another, never replacing or dropping anything on its own: the
// recorder's GBK at the wire, and the terminal's character set in kbcctl.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kbc::link {

class Conversion {
 public:
  // nullopt when iconv knows one of the two character sets not.
  static std::optional<Conversion> open(const char* to, const char* from);

  struct Result {
    std::string text;       // what was converted
    std::size_t converted;  // input bytes taken; where the input stopped when not complete
    bool complete;          // false: an invalid, cut or unconvertible sequence starts there
  };
  // Converts up to the first sequence it cannot. The text is written into one buffer sized for it
  // beforehand, so a password leaves no outgrown copy behind.
  Result run(std::string_view input) const;

 private:
  struct Closer {
    void operator()(void* cd) const;
  };
  explicit Conversion(void* cd) : cd_(cd) {}
  std::unique_ptr<void, Closer> cd_;
};

}  // namespace kbc::link
