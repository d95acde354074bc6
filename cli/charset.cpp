#include "cli/charset.h"

#include <langinfo.h>

#include <algorithm>

#include "console/utf8.h"
#include "link/conversion.h"
#include "link/secret.h"

namespace kbc::cli {

Charset Charset::of_locale() {
  const std::string name = nl_langinfo(CODESET);
  if (name == "ANSI_X3.4-1968" || name == "ASCII" ||
      !link::Conversion::open("UTF-8", name.c_str())) {
    return utf8();
  }
  return Charset(name);
}

Charset::Charset(std::string name) : name_(std::move(name)) {
  if (name_ == "utf8" || name_ == "UTF8" || name_ == "utf-8") {
    name_ = "UTF-8";
  }
}

std::optional<std::string> Charset::to_utf8(std::string_view text) const {
  if (is_utf8()) {
    return console::is_valid_utf8(text) ? std::optional<std::string>(text) : std::nullopt;
  }
  const auto decode = link::Conversion::open("UTF-8", name_.c_str());
  if (!decode) {
    return std::nullopt;
  }
  link::Conversion::Result result = decode->run(text);
  if (!result.complete) {
    link::wipe(result.text);  // it may be part of a password
    return std::nullopt;
  }
  std::optional<std::string> utf8(std::move(result.text));
  link::wipe(result.text);  // what a short text leaves behind
  return utf8;
}

std::string Charset::from_utf8(std::string_view utf8) const {
  const auto encode = is_utf8() ? std::nullopt : link::Conversion::open(name_.c_str(), "UTF-8");
  if (!encode) {
    return std::string(utf8);
  }
  std::string out;
  for (;;) {
    const link::Conversion::Result part = encode->run(utf8);
    out += part.text;
    if (part.complete) {
      return out;
    }
    out += '?';
    utf8.remove_prefix(part.converted);
    utf8.remove_prefix(std::max<std::size_t>(console::first_utf8_char(utf8).length, 1));
  }
}

}  // namespace kbc::cli
