// The terminal's character set, as the locale names it (nl_langinfo(CODESET)): arguments, the
// environment and typed text come in it, and report lines, messages and prompts go out in it. The
// program itself holds UTF-8; --json stays UTF-8 whatever the locale, as JSON is.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kbc::cli {

class Charset {
 public:
  // LC_CTYPE's character set (the caller has set the locale). Plain ASCII, the "C" locale's,
  // counts as UTF-8, as does a character set iconv does not know.
  static Charset of_locale();
  static Charset utf8() { return Charset("UTF-8"); }
  // A character set by its iconv name, such as "GBK" or "GB18030".
  explicit Charset(std::string name);

  const std::string& name() const { return name_; }
  bool is_utf8() const { return name_ == "UTF-8"; }

  // Text in this character set to UTF-8; nullopt when it holds bytes that are not valid in it.
  std::optional<std::string> to_utf8(std::string_view text) const;
  // UTF-8 to this character set; a character it has no code for is shown as "?".
  std::string from_utf8(std::string_view utf8) const;

 private:
  std::string name_;
};

}  // namespace kbc::cli
