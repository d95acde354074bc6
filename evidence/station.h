// The station file: where this station keeps its evidence and when it lets a recorder be erased.
//
//   store = "/srv/evidence"
//   erase = "require-offload"      # or "warn", the default
//   offload-window = "30min"       # how recent a verified offload must be: "90s", "2h", "1d"
//
//   [upload]                       # verified bags go on to the agency's S3 store
//   endpoint = "http://127.0.0.1:17480"
//   region = "us-east-1"
//   bucket = "evidence"
//   prefix = "station-07"
//   retention-days = 180
//   verify = "head"                # or "read-back"
//   credentials = "/etc/kbc-q7/s3.toml"
//
// erase = "require-upload" waits for the offload to be verified at the S3 store as well.
//
// /etc/kbc-q7/station.toml holds the station's; $XDG_CONFIG_HOME/kbc-q7/station.toml
// (~/.config/kbc-q7/station.toml), where there is one, overrides it key by key. Where
// $KBC_STATION_FILE names a file, that one alone is read: to try a station file out, and to
// keep the machine's own away from the tests.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "console/erase_guard.h"
#include "console/wording.h"
#include "evidence/upload.h"

namespace kbc::evidence {

inline constexpr std::string_view kSystemStationFile = "/etc/kbc-q7/station.toml";

struct Station {
  std::optional<std::filesystem::path> store;  // the default store where none is named
  console::ErasePolicy erase;
  std::optional<UploadSettings> upload;      // the [upload] table: verified bags go on to S3
  std::vector<std::filesystem::path> files;  // the station files read, system's first
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

// The system's file, then the user's over it; each only where it exists.
StationRead read_station(const std::filesystem::path& system_file,
                         const std::filesystem::path& user_file);
// The station as this user's programs read it, their environment looked up in `getenv`.
StationRead read_station(const Getenv& getenv = process_env);

// "30min", "90s", "2h", "1d": a span of time; nullopt for anything else.
std::optional<std::chrono::seconds> parse_span(std::string_view text);

// Each problem as a line: "station.toml:3: erase: ..." or "station.toml 第3行: erase: ...".
std::vector<std::string> station_problem_lines(const std::vector<StationProblem>& problems,
                                               bool chinese);

}  // namespace kbc::evidence
