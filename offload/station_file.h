// The station file: where this station keeps its evidence and when it lets a recorder be erased.
//
//   store = "/srv/evidence"
//   erase = "require-offload"      # or "warn", the default, or "require-upload"
//   offload-window = "30min"       # how recent a verified offload must be: "90s", "2h", "1d"
//   keep-local = "30d"             # bags the object store holds this long leave the station
//   low-space = "15%"              # or a size, "200G": below it the store is low on space
//   overdue = "24h"                # a recorder seen lately whose newest offload is older
//   disk-timeout = "30s"           # how long a switched recorder's disk may take to appear
//
//   recorder-keys = "/etc/kbc-q7/recorders.toml"   # the station service's recorder passwords
//   profile = "/etc/kbc-q7/profile.toml"           # the profile it sets on every recorder
//   slots = 25                     # how many recorders it takes through at once
//
//   [upload]                       # verified bags go on to the agency's S3 store
//   endpoint = "http://127.0.0.1:17480"
//   region = "us-east-1"
//   bucket = "evidence"
//   prefix = "station-07"
//   retention-days = 180
//   verify = "head"                # or "read-back"
//   connections = 4
//   credentials = "/etc/kbc-q7/s3.toml"
//
// erase = "require-upload" waits for the offload to be verified at the S3 store as well.
//
// /etc/kbc-q7/station.toml holds the station's; $XDG_CONFIG_HOME/kbc-q7/station.toml
// (~/.config/kbc-q7/station.toml), where there is one, overrides it key by key. Where
// $KBC_STATION_FILE names a file, that one is read instead of both: to try a station file out,
// and to keep the machine's own away from the tests. Whatever is read, the station's own erase
// rule and window (the system file's) hold: another file can make them stricter, never weaker.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "console/erase_guard.h"
#include "console/wording.h"
#include "evidence/store.h"
#include "upload/settings.h"

namespace kbc::offload {

inline constexpr std::string_view kSystemStationFile = "/etc/kbc-q7/station.toml";

struct Station {
  std::optional<std::filesystem::path> store;    // the default store where none is named
  console::ErasePolicy erase;                    // the station's rule, made stricter where asked
  std::optional<upload::UploadSettings> upload;  // the [upload] table: verified bags go on to S3
  // How long the station keeps a bag the object store holds; none: for ever.
  std::optional<std::chrono::seconds> keep_local;
  // Below this the store is low on space: a share of it, or bytes.
  struct LowSpace {
    double share = 0.15;
    std::optional<std::uint64_t> bytes;
  } low_space;
  // A recorder seen in the last 30 days whose newest verified offload is older is overdue.
  std::chrono::seconds overdue{24 * 3600};
  std::chrono::seconds disk_timeout{30};
  // The station service's: its recorder keys, its profile, its slots.
  std::optional<std::filesystem::path> recorder_keys;
  std::optional<std::filesystem::path> profile;
  int slot_count = 25;
  std::vector<std::filesystem::path> files;  // the station files read, system's first

  // Where the erase looks for offloads when the station's own rule requires one: the system
  // file's store, whatever else is named. nullopt: the store as chosen.
  std::optional<std::filesystem::path> erase_store;
  // A file that asked for a weaker rule than the station's, which holds: said, and entered.
  std::vector<console::Wording> weakened;
};

// One problem of a station file, named by the file and its line (0: the file as a whole).
struct StationProblem {
  std::string file;
  std::size_t line;
  console::Wording said;
};

using StationRead = std::variant<Station, std::vector<StationProblem>>;

// The keys of `text`, read as `shown_as`, over what `base` says.
StationRead parse_station(std::string_view text, const std::string& shown_as, Station base = {});

// Where the station files are: the system's, and the environment that names the others.
struct StationSources {
  std::filesystem::path system_file{kSystemStationFile};
  evidence::Getenv getenv = evidence::process_env;
};

// The system's file, then the user's over it (or the one $KBC_STATION_FILE names instead), each
// only where it exists; the system's rule over all.
StationRead read_station(const StationSources& sources = {});

// A span of time and the unit it was given in.
struct Span {
  std::chrono::seconds length;
  console::SpanUnit unit;
};
// "30min", "90s", "2h", "1d"; nullopt for anything else.
std::optional<Span> parse_span(std::string_view text);
// "15%" or "200G" (K, M, G, T: powers of 1024); nullopt for anything else.
std::optional<Station::LowSpace> parse_low_space(std::string_view text);

// Each problem as a line: "station.toml:3: erase: ..." or "station.toml 第3行: erase: ...".
std::vector<std::string> station_problem_lines(const std::vector<StationProblem>& problems,
                                               bool chinese);

}  // namespace kbc::offload
