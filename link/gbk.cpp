#include "gbk.h"

#include <iconv.h>

#include <cerrno>
#include <memory>

namespace kbc::link {
namespace {

struct IconvCloser {
  void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using Converter = std::unique_ptr<void, IconvCloser>;

Converter open_converter(const char* to, const char* from) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    return nullptr;
  }
  return Converter(cd);
}

// Converts as much as it can; stops at the first byte sequence it cannot convert and leaves `in`
// pointing there. Returns false on such a stop.
bool convert(iconv_t cd, const char*& in, std::size_t& in_left, std::string& out) {
  char buffer[256];
  while (in_left > 0) {
    char* dst = buffer;
    std::size_t dst_left = sizeof buffer;
    const std::size_t rc = iconv(cd, const_cast<char**>(&in), &in_left, &dst, &dst_left);
    out.append(buffer, sizeof buffer - dst_left);
    if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<GbkText> GbkText::from_utf8(std::string_view utf8) {
  const Converter cd = open_converter("GBK", "UTF-8");
  if (!cd) {
    return std::nullopt;
  }
  const char* in = utf8.data();
  std::size_t in_left = utf8.size();
  std::string out;
  if (!convert(static_cast<iconv_t>(cd.get()), in, in_left, out)) {
    return std::nullopt;  // never replaced by "?": the caller reports it
  }
  return GbkText(std::move(out));
}

GbkText GbkText::from_bytes(std::span<const std::uint8_t> bytes) {
  return GbkText(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

GbkText GbkText::from_bytes(std::string_view bytes) {
  return GbkText(std::string(bytes));
}

std::string GbkText::to_utf8() const {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  const Converter cd = open_converter("UTF-8", "GBK");
  if (!cd) {
    return {};
  }
  const char* in = bytes_.data();
  std::size_t in_left = bytes_.size();
  std::string out;
  while (!convert(static_cast<iconv_t>(cd.get()), in, in_left, out)) {
    // An invalid or truncated sequence: one replacement character for its lead byte.
    out.append(kReplacement);
    ++in;
    --in_left;
    iconv(static_cast<iconv_t>(cd.get()), nullptr, nullptr, nullptr, nullptr);
  }
  return out;
}

std::optional<std::size_t> gbk_size(std::string_view utf8) {
  const auto text = GbkText::from_utf8(utf8);
  if (!text) {
    return std::nullopt;
  }
  return text->size();
}

}  // namespace kbc::link
