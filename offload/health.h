// The station's health as its agency's monitoring reads it: the store's room, the upload queue,
// the station's rules, whether the journal is readable, and the recorders overdue. kbcctl status
// says it as text, JSON or Prometheus's text exposition format.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "console/audit.h"
#include "journal/audit_reader.h"
#include "offload/station_file.h"
#include "upload/queue.h"

namespace kbc::offload {

struct Health {
  std::chrono::sys_seconds now{};
  std::filesystem::path store;
  std::uint64_t free_bytes = 0;
  std::uint64_t total_bytes = 0;
  std::uint64_t bags = 0;  // verified bags the station holds, and their payload
  std::uint64_t bag_bytes = 0;
  bool low_space = false;
  std::uint64_t low_space_bytes = 0;  // the station's mark
  // At the rate of the last week's offloads; nullopt when none came.
  std::optional<double> days_left;

  bool upload = false;  // the station uploads at all
  std::uint64_t waiting_bags = 0;
  std::uint64_t waiting_bytes = 0;
  std::optional<std::chrono::seconds> oldest_waiting;
  std::optional<std::string> last_stored_bag;
  std::optional<std::chrono::sys_seconds> last_stored_at;
  std::optional<std::string> last_problem;

  console::ErasePolicy erase;
  std::optional<std::chrono::seconds> keep_local;
  std::chrono::seconds overdue_after{};

  std::optional<std::string> journal_unreadable;  // why; nullopt when it was read
  struct Overdue {
    std::string serial;
    std::chrono::sys_seconds newest_offload{};  // epoch: none
  };
  std::vector<Overdue> overdue;

  // Each thing that needs attention, said in a line; empty when all is well.
  std::vector<std::string> attention() const;
};

// Only the store's room against the station's mark (statvfs), as an offload asks before it begins;
// the rest left empty.
Health store_room(const Station& station, const evidence::Store& store,
                  std::chrono::sys_seconds now);

// How the station stands now. `journal` tells which recorders were seen in the last 30 days
// beside those with an offload; none: only the store tells.
Health station_health(const Station& station, const evidence::Store& store,
                      journal::AuditSource* journal, std::chrono::sys_seconds now);

// Whether the store is low on space, said once per crossing: the first run that finds it below
// the mark enters a warning in the trail and leaves STORE/.low-space, which the first run that
// finds it above again removes. The warning's line while it is low; nullopt otherwise.
std::optional<std::string> note_low_space(const Health& health, console::AuditTrail* trail);

std::vector<std::string> health_lines(const Health& health);
// HELP and TYPE before each metric, units in the names, as promtool check metrics takes them.
std::string health_prometheus(const Health& health);

}  // namespace kbc::offload
