#include "console/printable.h"

#include <cstdio>

#include "console/messages.h"
#include "console/utf8.h"

namespace kbc::console {
namespace {

bool is_format_control(char32_t c) {
  return (c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029 || c == 0x061C || c == 0x200E ||
         c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

void append_escape(std::string& out, const char* format, unsigned value) {
  char escape[16];  // room for a backslash, a letter and any unsigned in hex: nothing is ever cut
  std::snprintf(escape, sizeof escape, format, value);
  out += escape;
}

}  // namespace

std::string printable(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  while (!utf8.empty()) {
    const Utf8Char c = first_utf8_char(utf8);
    if (c.length == 0) {
      append_escape(out, "\\x%02x", static_cast<unsigned char>(utf8[0]));
      utf8.remove_prefix(1);
      continue;
    }
    if (c.code < 0x20 || c.code == 0x7F) {
      append_escape(out, "\\x%02x", static_cast<unsigned>(c.code));
    } else if (is_format_control(c.code)) {
      append_escape(out, "\\u%04x", static_cast<unsigned>(c.code));
    } else if (c.code == '\\') {
      out += "\\\\";
    } else {
      out += utf8.substr(0, c.length);
    }
    utf8.remove_prefix(c.length);
  }
  return out;
}

std::string recorder_heading(std::string_view location, const std::optional<std::string>& serial) {
  std::string line(msg::profile_recorder);
  line.append(serial ? printable(*serial) : std::string(msg::unknown_serial))
      .append(" (")
      .append(printable(location))
      .append("):");
  return line;
}

}  // namespace kbc::console
