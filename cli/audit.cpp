#include "cli/audit.h"

#include <charconv>
#include <cstdio>
#include <ctime>
#include <vector>

#include "cli/json.h"
#include "console/printable.h"

namespace kbc::cli {
namespace {

using std::chrono::system_clock;

constexpr std::uint64_t kUsecPerSecond = 1000000;

std::optional<int> digits(std::string_view text, std::size_t at, std::size_t n) {
  if (at + n > text.size()) {
    return std::nullopt;
  }
  int value = 0;
  const char* first = text.data() + at;
  const auto [end, error] = std::from_chars(first, first + n, value);
  if (error != std::errc() || end != first + n) {
    return std::nullopt;
  }
  return value;
}

std::uint64_t usec(system_clock::time_point time) {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(time.time_since_epoch()).count());
}

// Local midnight `days_back` days before the day of `now`.
std::optional<std::uint64_t> midnight(system_clock::time_point now, int days_back) {
  const std::time_t t = system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  tm.tm_mday -= days_back;
  tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
  tm.tm_isdst = -1;
  const std::time_t start = std::mktime(&tm);
  if (start == -1) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(start) * kUsecPerSecond;
}

// "-90s", "-30min", "-2h", "-7d", "-1w".
std::optional<std::uint64_t> before_now(std::string_view text, system_clock::time_point now) {
  std::uint64_t n = 0;
  const char* first = text.data() + 1;
  const char* last = text.data() + text.size();
  const auto [end, error] = std::from_chars(first, last, n);
  if (error != std::errc() || end == first) {
    return std::nullopt;
  }
  const std::string_view unit(end, static_cast<std::size_t>(last - end));
  const std::pair<std::string_view, std::uint64_t> units[] = {
      {"s", 1}, {"min", 60}, {"h", 3600}, {"d", 86400}, {"w", 604800}};
  for (const auto& [name, seconds] : units) {
    if (unit == name) {
      const std::uint64_t at = usec(now);
      if (n > at / seconds / kUsecPerSecond) {
        return std::nullopt;  // before 1970
      }
      return at - n * seconds * kUsecPerSecond;
    }
  }
  return std::nullopt;
}

// "YYYY-MM-DD", then " HH:MM" or "THH:MM", then ":SS", in local time.
std::optional<std::uint64_t> local_time(std::string_view text) {
  if (text.size() != 10 && text.size() != 16 && text.size() != 19) {
    return std::nullopt;
  }
  const auto year = digits(text, 0, 4), month = digits(text, 5, 2), day = digits(text, 8, 2);
  if (!year || !month || !day || text[4] != '-' || text[7] != '-') {
    return std::nullopt;
  }
  std::tm tm{};
  tm.tm_year = *year - 1900;
  tm.tm_mon = *month - 1;
  tm.tm_mday = *day;
  tm.tm_isdst = -1;
  if (text.size() > 10) {
    const auto hour = digits(text, 11, 2), minute = digits(text, 14, 2);
    if ((text[10] != ' ' && text[10] != 'T') || text[13] != ':' || !hour || !minute) {
      return std::nullopt;
    }
    tm.tm_hour = *hour;
    tm.tm_min = *minute;
  }
  if (text.size() > 16) {
    const auto second = digits(text, 17, 2);
    if (text[16] != ':' || !second) {
      return std::nullopt;
    }
    tm.tm_sec = *second;
  }
  const std::tm asked = tm;
  const std::time_t t = std::mktime(&tm);
  // mktime moves 2026-02-30 to March: such a date is no date.
  if (t == -1 || t < 0 || tm.tm_year != asked.tm_year || tm.tm_mon != asked.tm_mon ||
      tm.tm_mday != asked.tm_mday || tm.tm_hour != asked.tm_hour || tm.tm_min != asked.tm_min ||
      tm.tm_sec != asked.tm_sec) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(t) * kUsecPerSecond;
}

std::tm local_tm(std::uint64_t time_usec) {
  const auto t = static_cast<std::time_t>(time_usec / kUsecPerSecond);
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

std::string shown(const std::optional<std::string>& text) {
  return text ? console::printable(*text) : "-";
}

}  // namespace

std::optional<std::uint64_t> parse_since(std::string_view text, system_clock::time_point now) {
  if (text == "now") {
    return usec(now);
  }
  if (text == "today") {
    return midnight(now, 0);
  }
  if (text == "yesterday") {
    return midnight(now, 1);
  }
  if (text.starts_with('-')) {
    return before_now(text, now);
  }
  return local_time(text);
}

std::string audit_line(const journal::AuditRecord& record) {
  const std::tm tm = local_tm(record.time_usec);
  char time[32];
  std::strftime(time, sizeof time, "%Y-%m-%d %H:%M:%S", &tm);

  std::string line = std::string(time) + " " + console::printable(record.operator_name) + "@" +
                     console::printable(record.host) + " " + console::printable(record.program) +
                     ": " + console::printable(record.action);
  if (record.value) {
    line += " '" + console::printable(*record.value) + "'";
  }
  line += " on " + shown(record.serial) + " (" + shown(record.location) +
          "): " + console::printable(record.outcome);
  for (std::size_t i = 0; i < record.report.size(); ++i) {
    line += (i == 0 ? ": " : " | ") + console::printable(record.report[i]);
  }
  return line;
}

std::string audit_json(const journal::AuditRecord& record) {
  const std::tm tm = local_tm(record.time_usec);
  char time[32], zone[40], fraction[16];
  std::strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%S", &tm);
  const long minutes = tm.tm_gmtoff / 60;
  const long east = minutes < 0 ? -minutes : minutes;
  std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", minutes < 0 ? '-' : '+', east / 60, east % 60);
  std::snprintf(fraction, sizeof fraction, ".%06u",
                static_cast<unsigned>(record.time_usec % kUsecPerSecond));

  return R"({"time":")" + std::string(time) + fraction + zone + R"(","host":)" +
         json_string(record.host) + R"(,"program":)" + json_string(record.program) + R"(,"uid":)" +
         (record.uid ? std::to_string(*record.uid) : "null") + R"(,"operator":)" +
         json_string(record.operator_name) + R"(,"action":)" + json_string(record.action) +
         R"(,"value":)" + json_or_null(record.value) + R"(,"location":)" +
         json_or_null(record.location) + R"(,"serial":)" + json_or_null(record.serial) +
         R"(,"outcome":)" + json_string(record.outcome) + R"(,"report":)" +
         json_strings(record.report) + R"(,"message":)" + json_string(record.message) + "}";
}

}  // namespace kbc::cli
