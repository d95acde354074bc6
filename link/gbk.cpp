#include "gbk.h"

#include "conversion.h"
#include "secret.h"

namespace kbc::link {

GbkText::GbkText(std::string&& bytes) : bytes_(std::move(bytes)) {
  wipe(bytes);
}

GbkText::~GbkText() {
  wipe(bytes_);
}

// The old bytes are wiped before the buffer that held them can be given back.
GbkText& GbkText::operator=(const GbkText& other) {
  if (this != &other) {
    wipe(bytes_);
    bytes_ = other.bytes_;
  }
  return *this;
}

GbkText& GbkText::operator=(GbkText&& other) noexcept {
  if (this != &other) {
    wipe(bytes_);
    bytes_ = std::move(other.bytes_);
    wipe(other.bytes_);
  }
  return *this;
}

std::optional<GbkText> GbkText::from_utf8(std::string_view utf8) {
  const auto encode = Conversion::open("GBK", "UTF-8");
  const auto decode = Conversion::open("UTF-8", "GBK");
  if (!encode || !decode) {
    return std::nullopt;
  }
  Conversion::Result gbk = encode->run(utf8);
  // iconv drops some characters without a word (the tag characters U+E0000 to U+E007F): only a
  // text that comes back as it went is the text the operator typed. Never "?" either: the caller
  // reports it.
  Conversion::Result back = gbk.complete ? decode->run(gbk.text) : Conversion::Result{};
  const bool exact = gbk.complete && back.complete && back.text == utf8;
  wipe(back.text);
  if (!exact) {
    wipe(gbk.text);
    return std::nullopt;
  }
  return GbkText(std::move(gbk.text));
}

GbkText GbkText::from_bytes(std::span<const std::uint8_t> bytes) {
  return GbkText(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

GbkText GbkText::from_bytes(std::string_view bytes) {
  return GbkText(std::string(bytes));
}

std::string GbkText::to_utf8() const {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  const auto decode = Conversion::open("UTF-8", "GBK");
  if (!decode) {
    return {};
  }
  std::string out;
  std::string_view rest = bytes_;
  for (;;) {
    Conversion::Result part = decode->run(rest);
    out += part.text;
    wipe(part.text);
    if (part.complete) {
      return out;
    }
    // An invalid or cut sequence: one replacement character for its lead byte.
    out += kReplacement;
    rest.remove_prefix(part.converted + 1);
  }
}

std::optional<std::size_t> gbk_size(std::string_view utf8) {
  const auto text = GbkText::from_utf8(utf8);
  if (!text) {
    return std::nullopt;
  }
  return text->size();
}

}  // namespace kbc::link
