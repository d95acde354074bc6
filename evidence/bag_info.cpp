#include "evidence/bag_info.h"

#include <charconv>
#include <cstdio>
#include <fstream>

namespace kbc::evidence {
namespace {

bool number(std::string_view text, std::uint64_t& out) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
  return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

std::string utc_text(std::chrono::sys_seconds when, const char* format) {
  const auto day = std::chrono::floor<std::chrono::days>(when);
  const std::chrono::year_month_day date(day);
  const std::chrono::hh_mm_ss time(when - day);
  char text[32];
  std::snprintf(text, sizeof text, format, static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return text;
}

// The time of digits at the given places of `text`: year, month, day, hour, minute, second.
std::optional<std::chrono::sys_seconds> parse_at(std::string_view text,
                                                 const std::size_t (&starts)[6]) {
  static constexpr std::size_t kLengths[] = {4, 2, 2, 2, 2, 2};
  int parts[6] = {};
  for (int i = 0; i < 6; ++i) {
    const char* begin = text.data() + starts[i];
    const auto [end, error] = std::from_chars(begin, begin + kLengths[i], parts[i]);
    if (error != std::errc() || end != begin + kLengths[i]) {
      return std::nullopt;
    }
  }
  const std::chrono::year_month_day date{std::chrono::year(parts[0]),
                                         std::chrono::month(static_cast<unsigned>(parts[1])),
                                         std::chrono::day(static_cast<unsigned>(parts[2]))};
  if (!date.ok() || parts[3] > 23 || parts[4] > 59 || parts[5] > 60) {
    return std::nullopt;
  }
  return std::chrono::sys_days(date) + std::chrono::hours(parts[3]) +
         std::chrono::minutes(parts[4]) + std::chrono::seconds(parts[5]);
}

// A value on one line, whatever it holds: a control character as its escape.
std::string one_line(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(c));
      out += escape;
    } else {
      out += c;
    }
  }
  return out;
}

std::string known(const std::optional<std::string>& text) {
  return text ? *text : std::string("unknown");
}

}  // namespace

std::string bag_info_text(const BagInfo& info, const Labels& more, const PayloadOxum& oxum,
                          std::chrono::sys_seconds verified) {
  std::string text;
  const auto add = [&](std::string_view label, std::string_view value) {
    text.append(label).append(": ").append(one_line(value)).append("\n");
  };
  const Officer& officer = info.officer;
  const std::string date = iso_utc(verified);
  add("Source-Organization", known(officer.unit_name));
  add("External-Identifier", info.serial);
  add("External-Description", "Recordings of body-worn recorder " + info.serial);
  add("Bagging-Date", date.substr(0, 10));
  add("Payload-Oxum", std::to_string(oxum.bytes) + "." + std::to_string(oxum.files));
  add("Bag-Software-Agent", info.tool);
  add("Recorder-Serial", info.serial);
  add("Officer-Number", known(officer.user_number));
  add("Officer-Name", known(officer.user_name));
  add("Unit-Number", known(officer.unit_number));
  add("Unit-Name", known(officer.unit_name));
  add("Station-Host", info.host);
  add("Station-Operator", info.operator_name);
  for (const auto& [label, value] : more) {
    add(label, value);
  }
  add("Offload-Verified", date);
  return text;
}

std::optional<std::map<std::string, std::string, std::less<>>> read_bag_info(
    const std::filesystem::path& bag) {
  std::ifstream info(bag / "bag-info.txt");
  if (!info) {
    return std::nullopt;
  }
  std::map<std::string, std::string, std::less<>> values;
  for (std::string line; std::getline(info, line);) {
    if (line.ends_with('\r')) {
      line.pop_back();
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) {
      continue;
    }
    std::string_view value = std::string_view(line).substr(colon + 1);
    while (!value.empty() && value.front() == ' ') {
      value.remove_prefix(1);
    }
    values.emplace(line.substr(0, colon), std::string(value));
  }
  return values;
}

std::optional<std::string> bag_info_value(const std::filesystem::path& bag,
                                          std::string_view label) {
  const auto values = read_bag_info(bag);
  if (!values) {
    return std::nullopt;
  }
  const auto found = values->find(label);
  return found == values->end() ? std::nullopt : std::optional(found->second);
}

std::optional<PayloadOxum> parse_payload_oxum(std::string_view text) {
  const std::size_t dot = text.find('.');
  PayloadOxum oxum;
  if (dot == std::string_view::npos || !number(text.substr(0, dot), oxum.bytes) ||
      !number(text.substr(dot + 1), oxum.files)) {
    return std::nullopt;
  }
  return oxum;
}

bool read_payload_oxum(const std::filesystem::path& bag, std::uint64_t& bytes,
                       std::uint64_t& files) {
  const auto value = bag_info_value(bag, "Payload-Oxum");
  const auto oxum = value ? parse_payload_oxum(*value) : std::nullopt;
  if (!oxum) {
    return false;
  }
  bytes = oxum->bytes;
  files = oxum->files;
  return true;
}

std::string utc_stamp(std::chrono::sys_seconds when) {
  return utc_text(when, "%04d%02u%02uT%02d%02d%02dZ");
}

std::string iso_utc(std::chrono::sys_seconds when) {
  return utc_text(when, "%04d-%02u-%02uT%02d:%02d:%02dZ");
}

std::optional<std::chrono::sys_seconds> parse_utc_stamp(std::string_view stamp) {
  if (stamp.size() != 16 || stamp[8] != 'T' || stamp[15] != 'Z') {
    return std::nullopt;
  }
  return parse_at(stamp, {0, 4, 6, 9, 11, 13});
}

std::optional<std::chrono::sys_seconds> parse_iso_utc(std::string_view text) {
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text[19] != 'Z') {
    return std::nullopt;
  }
  return parse_at(text, {0, 5, 8, 11, 14, 17});
}

}  // namespace kbc::evidence
