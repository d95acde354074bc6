#include "console/erase_guard.h"

#include <cstdio>
#include <ctime>

#include "console/messages.h"

namespace kbc::console {

std::string size_text(std::uint64_t bytes) {
  char text[64];
  if (bytes < 1000) {
    std::snprintf(text, sizeof text, "%llu 字节", static_cast<unsigned long long>(bytes));
    return text;
  }
  const char* units[] = {"KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes) / 1000;
  int unit = 0;
  while (value >= 1000 && unit < 3) {
    value /= 1000;
    ++unit;
  }
  std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
  return text;
}

std::string offload_fact_line(const std::optional<std::string>& serial,
                              const std::optional<OffloadFact>& fact) {
  if (!serial) {
    return std::string(msg::offload_serial_unknown);
  }
  if (!fact) {
    return std::string(msg::offload_none);
  }
  const std::time_t seconds = std::chrono::system_clock::to_time_t(fact->when);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[256];
  std::snprintf(text, sizeof text, msg::offload_newest_format, local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                static_cast<unsigned long long>(fact->files), size_text(fact->bytes).c_str());
  return std::string(text) + (fact->uploaded ? std::string(msg::offload_uploaded) : "");
}

bool erase_allowed(const ErasePolicy& policy, const std::optional<OffloadFact>& fact,
                   std::chrono::sys_seconds now) {
  if (policy.rule == EraseRule::warn) {
    return true;
  }
  return fact && fact->when <= now && now - fact->when <= policy.window &&
         (policy.rule != EraseRule::require_upload || fact->uploaded);
}

}  // namespace kbc::console
