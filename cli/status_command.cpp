#include "cli/status_command.h"

#include <ostream>

#include "cli/json.h"
#include "console/erase_guard.h"
#include "console/printable.h"
#include "evidence/bag_info.h"

namespace kbc::cli {

std::string health_json(const offload::Health& health) {
  const auto number = [](std::uint64_t n) { return std::to_string(n); };
  std::string overdue = "[";
  for (const offload::Health::Overdue& late : health.overdue) {
    overdue += (overdue.size() > 1 ? "," : "") + std::string("{\"serial\":") +
               json_string(late.serial) + ",\"newest_offload\":" +
               (late.newest_offload.time_since_epoch().count() > 0
                    ? json_string(evidence::iso_utc(late.newest_offload))
                    : std::string("null")) +
               "}";
  }
  overdue += "]";
  std::string attention = "[";
  for (const std::string& line : health.attention()) {
    attention += (attention.size() > 1 ? "," : "") + json_string(line);
  }
  attention += "]";
  return "{\"store\":{\"path\":" + json_string(health.store.string()) +
         ",\"free_bytes\":" + number(health.free_bytes) +
         ",\"total_bytes\":" + number(health.total_bytes) + ",\"bags\":" + number(health.bags) +
         ",\"bag_bytes\":" + number(health.bag_bytes) +
         ",\"low_space\":" + (health.low_space ? "true" : "false") + ",\"days_left\":" +
         (health.days_left ? std::to_string(static_cast<long long>(*health.days_left)) : "null") +
         "},\"upload\":{\"enabled\":" + (health.upload ? "true" : "false") +
         ",\"waiting_bags\":" + number(health.waiting_bags) +
         ",\"waiting_bytes\":" + number(health.waiting_bytes) + ",\"oldest_waiting_seconds\":" +
         (health.oldest_waiting ? std::to_string(health.oldest_waiting->count()) : "null") +
         ",\"last_stored_bag\":" + json_or_null(health.last_stored_bag) + ",\"last_stored_at\":" +
         json_or_null(health.last_stored_at
                          ? std::optional(evidence::iso_utc(*health.last_stored_at))
                          : std::nullopt) +
         ",\"last_problem\":" + json_or_null(health.last_problem) +
         "},\"rules\":{\"erase\":" + json_string(console::rule_name(health.erase.rule)) +
         ",\"offload_window_seconds\":" + std::to_string(health.erase.window.count()) +
         ",\"keep_local_seconds\":" +
         (health.keep_local ? std::to_string(health.keep_local->count()) : "null") +
         ",\"overdue_seconds\":" + std::to_string(health.overdue_after.count()) +
         "},\"journal_readable\":" + (health.journal_unreadable ? "false" : "true") +
         ",\"overdue\":" + overdue + ",\"attention\":" + attention + "}";
}

int status(const Options& options, const offload::Health& health, const Io& io) {
  if (options.prometheus) {
    io.out << offload::health_prometheus(health);
  } else if (options.json) {
    io.out << health_json(health) << '\n';
  } else {
    for (const std::string& line : offload::health_lines(health)) {
      io.out << io.charset.from_utf8(console::printable(line)) << '\n';
    }
  }
  io.out << std::flush;
  return health.attention().empty() ? kSucceeded : kFailed;
}

}  // namespace kbc::cli
