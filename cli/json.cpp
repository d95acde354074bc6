#include "cli/json.h"

#include <array>
#include <cstdio>
#include <utility>

#include "console/utf8.h"

namespace kbc::cli {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

}  // namespace

std::string json_string(std::string_view utf8) {
  std::string out = "\"";
  while (!utf8.empty()) {
    const std::size_t length = console::first_utf8_char(utf8).length;
    if (length == 0) {
      out += kReplacement;
      utf8.remove_prefix(1);
      continue;
    }
    const char c = utf8[0];
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
          out += escape;
        } else {
          out += utf8.substr(0, length);
        }
    }
    utf8.remove_prefix(length);
  }
  out += '"';
  return out;
}

std::string identity_json(const link::IdentityRecord& record) {
  using link::IdentityField;
  constexpr std::array<std::pair<std::string_view, IdentityField>, 5> kKeys{{
      {"serial_number", IdentityField::serial_number},
      {"user_number", IdentityField::user_number},
      {"user_name", IdentityField::user_name},
      {"unit_number", IdentityField::unit_number},
      {"unit_name", IdentityField::unit_name},
  }};
  std::string out = "{";
  for (const auto& [key, field] : kKeys) {
    if (out.size() > 1) {
      out += ',';
    }
    out += json_string(key);
    out += ':';
    out += json_string(record.field(field).to_utf8());
  }
  out += '}';
  return out;
}

std::string json_or_null(const std::optional<std::string>& utf8) {
  return utf8 ? json_string(*utf8) : "null";
}

std::string json_strings(std::span<const std::string> lines) {
  std::string out = "[";
  for (const std::string& line : lines) {
    out += out.size() > 1 ? "," : "";
    out += json_string(line);
  }
  return out + "]";
}

std::string report_json(bool ok, std::span<const std::string> lines) {
  return (ok ? R"({"ok":true,"lines":)" : R"({"ok":false,"lines":)") + json_strings(lines) + "}";
}

}  // namespace kbc::cli
