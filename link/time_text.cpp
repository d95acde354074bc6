#include "time_text.h"

#include <cstdio>
#include <ctime>

namespace kbc::link {

std::string time_text(const LocalTime& t) {
  char text[64];
  const int n = std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d\n", t.year, t.month,
                              t.day, t.hour, t.minute, t.second);
  return std::string(text, n > 0 ? static_cast<std::size_t>(n) : 0);
}

LocalTime local_time_now() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &now);
#else
  localtime_r(&now, &tm);
#endif
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

}  // namespace kbc::link
