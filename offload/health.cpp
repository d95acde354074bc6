#include "offload/health.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "console/erase_guard.h"
#include "evidence/bag_info.h"

namespace kbc::offload {
namespace {

using std::chrono::days;
using std::chrono::seconds;

constexpr auto kSeenWithin = days(30);
constexpr auto kRateOver = days(7);

std::string when(std::chrono::sys_seconds at) {
  return evidence::iso_utc(at);
}

// A span in the largest unit it is a whole number of: "30d", "36h", "90s".
std::string span_of(seconds span) {
  for (const auto& [length, unit] :
       {std::pair{86400, console::SpanUnit::days}, std::pair{3600, console::SpanUnit::hours},
        std::pair{60, console::SpanUnit::minutes}}) {
    if (span.count() % length == 0) {
      return console::span_name(span, unit);
    }
  }
  return console::span_name(span, console::SpanUnit::seconds);
}

}  // namespace

std::vector<std::string> Health::attention() const {
  std::vector<std::string> lines;
  if (low_space) {
    char text[160];
    std::snprintf(text, sizeof text, "the store is low on space: %llu bytes free",
                  static_cast<unsigned long long>(free_bytes));
    lines.push_back(text + (days_left ? std::string(", about ") +
                                            std::to_string(static_cast<long long>(*days_left)) +
                                            " days at the last week's rate"
                                      : std::string()));
  }
  if (last_problem) {
    lines.push_back("the upload's last problem: " + *last_problem);
  }
  if (oldest_waiting && *oldest_waiting > days(1)) {
    lines.push_back("a bag has waited for the object store for more than a day");
  }
  for (const Overdue& late : overdue) {
    lines.push_back("recorder " + late.serial + " is overdue: its newest verified offload is " +
                    (late.newest_offload.time_since_epoch().count() > 0
                         ? "of " + when(late.newest_offload)
                         : std::string("none")));
  }
  return lines;
}

Health store_room(const Station& station, const evidence::Store& store,
                  std::chrono::sys_seconds now) {
  Health health;
  health.now = now;
  health.store = store.root();
  health.erase = station.erase;
  health.keep_local = station.keep_local;
  health.overdue_after = station.overdue;
  struct statvfs room {};
  if (::statvfs(store.root().c_str(), &room) == 0) {
    const std::uint64_t block = room.f_frsize != 0 ? room.f_frsize : room.f_bsize;
    health.free_bytes = static_cast<std::uint64_t>(room.f_bavail) * block;
    health.total_bytes = static_cast<std::uint64_t>(room.f_blocks) * block;
  }
  health.low_space_bytes = station.low_space.bytes.value_or(static_cast<std::uint64_t>(
      station.low_space.share * static_cast<double>(health.total_bytes)));
  health.low_space = health.total_bytes > 0 && health.free_bytes < health.low_space_bytes;
  return health;
}

Health station_health(const Station& station, const evidence::Store& store,
                      journal::AuditSource* journal, std::chrono::sys_seconds now) {
  Health health = store_room(station, store, now);

  // Each recorder's newest verified offload, held by the station or let go after the upload.
  std::map<std::string, std::chrono::sys_seconds> newest;
  std::uint64_t lately = 0;
  for (const evidence::StoredBag& bag : store.bags()) {
    ++health.bags;
    health.bag_bytes += bag.bytes;
    if (now - bag.verified <= kRateOver) {
      lately += bag.bytes;
    }
    if (!bag.set_aside && bag.serial) {
      newest[*bag.serial] = std::max(newest[*bag.serial], bag.verified);
    }
  }
  if (station.upload) {
    health.upload = true;
    const upload::UploadQueue queue(store);
    for (const upload::QueuedBag& bag : queue.bags()) {
      ++health.waiting_bags;
      health.waiting_bytes += bag.bytes;
      const auto stamp = evidence::parse_utc_stamp(bag.stamp);
      if (stamp && (!health.oldest_waiting || now - *stamp > *health.oldest_waiting)) {
        health.oldest_waiting = now - *stamp;
      }
      if (bag.error) {
        health.last_problem = bag.error;
      }
    }
    for (const upload::QueuedBag& bag : queue.stored_bags()) {
      if (bag.stored_at && (!health.last_stored_at || *bag.stored_at > *health.last_stored_at)) {
        health.last_stored_at = bag.stored_at;
        health.last_stored_bag = bag.name;
      }
      if (bag.pruned) {
        newest[bag.pruned->serial] = std::max(newest[bag.pruned->serial], bag.pruned->verified);
      }
    }
  }
  if (lately > 0) {
    health.days_left = static_cast<double>(health.free_bytes) /
                       (static_cast<double>(lately) / static_cast<double>(kRateOver.count()));
  }

  // Seen lately: offloaded in the last 30 days, or named by the journal's entries of them.
  std::set<std::string> seen;
  for (const auto& [serial, at] : newest) {
    if (now - at <= kSeenWithin) {
      seen.insert(serial);
    }
  }
  if (journal != nullptr) {
    journal::AuditQuery query;
    query.since_usec =
        static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                       (now - kSeenWithin).time_since_epoch())
                                       .count());
    health.journal_unreadable = journal->read(query, [&](const journal::AuditRecord& record) {
      if (record.serial && !record.serial->empty()) {
        seen.insert(*record.serial);
      }
    });
  } else {
    health.journal_unreadable = "no journal here";
  }
  for (const std::string& serial : seen) {
    const auto found = newest.find(serial);
    const std::chrono::sys_seconds at =
        found == newest.end() ? std::chrono::sys_seconds{} : found->second;
    if (now - at > station.overdue) {
      health.overdue.push_back({serial, at});
    }
  }
  return health;
}

std::optional<std::string> note_low_space(const Health& health, console::AuditTrail* trail) {
  const std::filesystem::path mark = health.store / ".low-space";
  std::error_code error;
  if (!health.low_space) {
    std::filesystem::remove(mark, error);
    return std::nullopt;
  }
  const std::string line = health.attention().front();
  const int fd = ::open(mark.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0640);
  if (fd >= 0) {
    ::close(fd);
    if (trail != nullptr && trail->writable()) {
      trail->write({"low-space",
                    std::to_string(health.free_bytes),
                    health.store.string(),
                    std::nullopt,
                    console::AuditOutcome::failed,
                    {line},
                    false,
                    {{"KBC_STORE", health.store.string()},
                     {"KBC_FREE_BYTES", std::to_string(health.free_bytes)},
                     {"KBC_LOW_SPACE_BYTES", std::to_string(health.low_space_bytes)}}});
    }
  }
  return line;
}

std::vector<std::string> health_lines(const Health& health) {
  std::vector<std::string> lines;
  const auto gib = [](std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f GiB", static_cast<double>(bytes) / (1u << 30));
    return std::string(text);
  };
  lines.push_back("store: " + health.store.string() + ", " + gib(health.free_bytes) + " free of " +
                  gib(health.total_bytes) + (health.low_space ? " (LOW)" : "") + ", " +
                  std::to_string(health.bags) + " bags, " + gib(health.bag_bytes));
  if (health.upload) {
    lines.push_back("upload: " + std::to_string(health.waiting_bags) + " bags waiting, " +
                    gib(health.waiting_bytes) + "; last stored: " +
                    (health.last_stored_bag
                         ? *health.last_stored_bag + " at " + when(*health.last_stored_at)
                         : std::string("none")));
  } else {
    lines.push_back("upload: none ([upload] is not set)");
  }
  lines.push_back(
      "rules: erase = " + std::string(console::rule_name(health.erase.rule)) +
      ", offload-window = " + console::span_name(health.erase.window, health.erase.unit) +
      ", keep-local = " + (health.keep_local ? span_of(*health.keep_local) : "for ever") +
      ", overdue = " + span_of(health.overdue_after));
  lines.push_back(std::string("journal: ") +
                  (health.journal_unreadable ? "not readable" : "readable"));
  for (const std::string& line : health.attention()) {
    lines.push_back("attention: " + line);
  }
  return lines;
}

std::string health_prometheus(const Health& health) {
  std::string text;
  const auto metric = [&](const char* name, const char* type, const char* help, double value) {
    char line[64];
    std::snprintf(line, sizeof line, "%.17g", value);
    text += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n" +
            name + " " + line + "\n";
  };
  const auto seconds_of = [](std::chrono::sys_seconds at) {
    return static_cast<double>(at.time_since_epoch().count());
  };
  metric("kbc_store_free_bytes", "gauge", "Bytes the evidence store has free.",
         static_cast<double>(health.free_bytes));
  metric("kbc_store_size_bytes", "gauge", "Bytes the evidence store's file system holds in all.",
         static_cast<double>(health.total_bytes));
  metric("kbc_store_low_space", "gauge", "1 when the store is below the station's low-space mark.",
         health.low_space ? 1 : 0);
  metric("kbc_store_bags", "gauge", "Verified bags the station holds.",
         static_cast<double>(health.bags));
  metric("kbc_store_bag_bytes", "gauge", "Payload bytes of the verified bags the station holds.",
         static_cast<double>(health.bag_bytes));
  metric("kbc_upload_waiting_bags", "gauge", "Verified bags waiting for the object store.",
         static_cast<double>(health.waiting_bags));
  metric("kbc_upload_waiting_bytes", "gauge", "Payload bytes waiting for the object store.",
         static_cast<double>(health.waiting_bytes));
  metric("kbc_upload_oldest_waiting_seconds", "gauge",
         "Age of the oldest offload waiting for the object store; 0 when none waits.",
         health.oldest_waiting ? static_cast<double>(health.oldest_waiting->count()) : 0);
  metric("kbc_upload_last_stored_timestamp_seconds", "gauge",
         "When the object store last verified a bag of the station; 0 for never.",
         health.last_stored_at ? seconds_of(*health.last_stored_at) : 0);
  metric("kbc_upload_problem", "gauge", "1 while the upload's last attempt of a bag failed.",
         health.last_problem ? 1 : 0);
  metric("kbc_journal_readable", "gauge", "1 when the audit trail's journal can be read.",
         health.journal_unreadable ? 0 : 1);
  metric("kbc_recorders_overdue", "gauge",
         "Recorders seen in the last 30 days whose newest verified offload is older than the "
         "station's overdue span.",
         static_cast<double>(health.overdue.size()));
  metric("kbc_status_timestamp_seconds", "gauge", "When this status was taken.",
         seconds_of(health.now));
  return text;
}

}  // namespace kbc::offload
