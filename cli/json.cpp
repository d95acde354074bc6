#include "cli/json.h"

#include <array>
#include <cstdio>
#include <utility>

namespace kbc::cli {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The length of the valid UTF-8 sequence at the start of `text`, or 0 when it starts with none.
std::size_t sequence_length(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead < 0x80) {
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
    high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) {
    return 0;
  }
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) {
      return 0;
    }
  }
  return length;
}

}  // namespace

std::string json_string(std::string_view utf8) {
  std::string out = "\"";
  while (!utf8.empty()) {
    const std::size_t length = sequence_length(utf8);
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

}  // namespace kbc::cli
