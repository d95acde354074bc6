#include "console/erase_guard.h"

#include <algorithm>
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

std::string_view rule_name(EraseRule rule) {
  switch (rule) {
    case EraseRule::warn:
      return "warn";
    case EraseRule::require_offload:
      return "require-offload";
    case EraseRule::require_upload:
      return "require-upload";
  }
  return "warn";
}

ErasePolicy at_least(const ErasePolicy& floor, const ErasePolicy& wanted) {
  if (floor.rule == EraseRule::warn) {
    return wanted;
  }
  ErasePolicy policy = floor;
  policy.rule = std::max(floor.rule, wanted.rule);
  if (wanted.window < floor.window) {
    policy.window = wanted.window;
    policy.unit = wanted.unit;
  }
  return policy;
}

bool weaker(const ErasePolicy& wanted, const ErasePolicy& floor) {
  return wanted.rule < floor.rule ||
         (floor.rule != EraseRule::warn && wanted.window > floor.window);
}

namespace {

struct UnitWords {
  std::chrono::seconds length;
  const char* chinese;
  const char* name;
};

// In the order of SpanUnit.
constexpr UnitWords kUnits[] = {{std::chrono::seconds(1), "秒", "s"},
                                {std::chrono::seconds(60), "分钟", "min"},
                                {std::chrono::seconds(3600), "小时", "h"},
                                {std::chrono::seconds(86400), "天", "d"}};

}  // namespace

std::string span_text(std::chrono::seconds span, SpanUnit unit) {
  const UnitWords& words = kUnits[static_cast<int>(unit)];
  return std::to_string(span / words.length) + words.chinese;
}

std::string span_name(std::chrono::seconds span, SpanUnit unit) {
  const UnitWords& words = kUnits[static_cast<int>(unit)];
  return std::to_string(span / words.length) + words.name;
}

std::string erase_refusal(const ErasePolicy& policy) {
  char refused[256];
  std::snprintf(refused, sizeof refused,
                policy.rule == EraseRule::require_upload ? msg::erase_refused_upload_format
                                                         : msg::erase_refused_format,
                span_text(policy.window, policy.unit).c_str());
  return refused;
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
