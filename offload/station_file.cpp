#include "offload/station_file.h"

#include <toml++/toml.h>

#include <algorithm>
#include <charconv>
#include <system_error>

#include "console/profile_file.h"
#include "console/station_words.h"

namespace kbc::offload {
namespace {

namespace words = console::station_words;

constexpr std::string_view kKeys =
    "store, erase, offload-window, keep-local, low-space, overdue, disk-timeout, recorder-keys, "
    "profile, slots, [upload]";
constexpr int kMostSlots = 64;
constexpr std::string_view kUploadKeys =
    "endpoint, region, bucket, prefix, retention-days, verify, connections, credentials";

// A whole number from 1 to `most` into `into`; false when the node holds none.
bool count(const toml::node& node, long long most, int& into) {
  const std::optional<std::int64_t> number = node.value<std::int64_t>();
  if (!number || *number < 1 || *number > most) {
    return false;
  }
  into = static_cast<int>(*number);
  return true;
}

// The [upload] table over what `station` says of it already.
void read_upload(const toml::node& node, const std::string& shown_as, Station& station,
                 std::vector<StationProblem>& problems) {
  const toml::table* table = node.as_table();
  if (table == nullptr) {
    problems.push_back({shown_as, node.source().begin.line,
                        console::prefixed("upload: ", words::takes_table("upload"))});
    return;
  }
  upload::UploadSettings settings = station.upload.value_or(upload::UploadSettings{});
  for (const auto& [name, value] : *table) {
    const std::string key(name.str());
    // Not `value` in the lambda: clang 14 does not capture structured bindings.
    const std::size_t line = value.source().begin.line;
    const auto refuse = [&](const console::Wording& said) {
      problems.push_back({shown_as, line, console::prefixed("upload." + key + ": ", said)});
    };
    const std::optional<std::string> text = value.value<std::string>();
    if (key == "retention-days") {
      if (!count(value, 36500, settings.retention_days)) {
        refuse(words::takes_count(words::Counted::days, 36500));
      }
    } else if (key == "connections") {
      if (!count(value, 16, settings.connections)) {
        refuse(words::takes_count(words::Counted::connections, 16));
      }
    } else if (key == "verify") {
      if (text == "head") {
        settings.verify = upload::UploadSettings::Verify::head;
      } else if (text == "read-back") {
        settings.verify = upload::UploadSettings::Verify::read_back;
      } else {
        refuse(words::takes_verify());
      }
    } else if (key == "endpoint") {
      if (!text || !(text->starts_with("http://") || text->starts_with("https://"))) {
        refuse(words::takes_address());
      } else {
        settings.endpoint = *text;
        while (settings.endpoint.ends_with('/')) {
          settings.endpoint.pop_back();
        }
      }
    } else if (key == "credentials") {
      if (!text || !text->starts_with('/')) {
        refuse(words::takes_file());
      } else {
        settings.credentials = *text;
      }
    } else if (key == "region" || key == "bucket" || key == "prefix") {
      if (!text || (text->empty() && key != "prefix")) {
        refuse(words::takes_text());
      } else {
        (key == "region"   ? settings.region
         : key == "bucket" ? settings.bucket
                           : settings.prefix) = *text;
      }
    } else {
      problems.push_back(
          {shown_as, name.source().begin.line, words::no_key(key, "upload", kUploadKeys)});
    }
  }
  station.upload = std::move(settings);
}

// One station file over `station`: `required`, a file that is not there is a problem.
StationRead read_over(Station station, const std::filesystem::path& file, bool required) {
  std::error_code error;
  if (!required && (file.empty() || !std::filesystem::exists(file, error))) {
    return station;
  }
  auto text = console::read_settings_file(file.string());
  if (auto* problem = std::get_if<console::Wording>(&text)) {
    return std::vector<StationProblem>{{file.string(), 0, *problem}};
  }
  StationRead read = parse_station(std::get<std::string>(text), file.string(), std::move(station));
  if (auto* read_station = std::get_if<Station>(&read)) {
    read_station->files.push_back(file);
  }
  return read;
}

std::string policy_text(const console::ErasePolicy& policy) {
  return "erase = \"" + std::string(console::rule_name(policy.rule)) + "\", offload-window = \"" +
         console::span_name(policy.window, policy.unit) + "\"";
}

}  // namespace

std::optional<Span> parse_span(std::string_view text) {
  long long count = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
  if (error != std::errc() || end == text.data() || count <= 0) {
    return std::nullopt;
  }
  const std::string_view unit(end, static_cast<std::size_t>(text.data() + text.size() - end));
  long long scale = 0;
  console::SpanUnit given = console::SpanUnit::seconds;
  if (unit == "s" || unit == "sec") {
    scale = 1;
  } else if (unit == "min" || unit == "m") {
    scale = 60;
    given = console::SpanUnit::minutes;
  } else if (unit == "h") {
    scale = 3600;
    given = console::SpanUnit::hours;
  } else if (unit == "d") {
    scale = 86400;
    given = console::SpanUnit::days;
  }
  // Ten years at most: anything longer is a slip of the keyboard.
  if (scale == 0 || count > 10LL * 366 * 86400 / scale) {
    return std::nullopt;
  }
  return Span{std::chrono::seconds(count * scale), given};
}

std::optional<Station::LowSpace> parse_low_space(std::string_view text) {
  double number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  const std::string_view unit(end, static_cast<std::size_t>(text.data() + text.size() - end));
  if (error != std::errc() || end == text.data() || number <= 0) {
    return std::nullopt;
  }
  if (unit == "%") {
    return number < 100 ? std::optional(Station::LowSpace{number / 100, std::nullopt})
                        : std::nullopt;
  }
  static constexpr std::string_view kUnits = "KMGT";
  const std::size_t power = kUnits.find(unit);
  if (unit.size() != 1 || power == std::string_view::npos || number > 1e6) {
    return std::nullopt;
  }
  return Station::LowSpace{0,
                           static_cast<std::uint64_t>(number * double(1ull << (10 * (power + 1))))};
}

StationRead parse_station(std::string_view text, const std::string& shown_as, Station base) {
  std::vector<StationProblem> problems;
  toml::table table;
  try {
    table = toml::parse(text);
  } catch (const toml::parse_error& error) {
    problems.push_back({shown_as, error.source().begin.line, words::not_toml(error.description())});
    return problems;
  }
  for (const auto& [name, node] : table) {
    const std::size_t line = node.source().begin.line;
    const std::string key(name.str());
    const std::optional<std::string_view> value = node.value<std::string_view>();
    const auto refuse = [&](const console::Wording& said) {
      problems.push_back({shown_as, line, console::prefixed(key + ": ", said)});
    };
    // A span, or the problem that it is none.
    const auto span = [&]() -> std::optional<Span> {
      const auto read = value ? parse_span(*value) : std::nullopt;
      if (!read) {
        refuse(words::takes_span());
      }
      return read;
    };
    if (key == "store") {
      if (!value || value->empty() || value->front() != '/') {
        refuse(words::takes_folder("store = \"/srv/evidence\""));
      } else {
        base.store = std::filesystem::path(*value);
      }
    } else if (key == "erase") {
      if (value == "warn") {
        base.erase.rule = console::EraseRule::warn;
      } else if (value == "require-offload") {
        base.erase.rule = console::EraseRule::require_offload;
      } else if (value == "require-upload") {
        base.erase.rule = console::EraseRule::require_upload;
      } else {
        refuse(words::takes_erase_rule());
      }
    } else if (key == "offload-window") {
      if (const auto window = span()) {
        base.erase.window = window->length;
        base.erase.unit = window->unit;
      }
    } else if (key == "keep-local") {
      if (const auto keep = span()) {
        base.keep_local = keep->length;
      }
    } else if (key == "low-space") {
      if (const auto low = value ? parse_low_space(*value) : std::nullopt) {
        base.low_space = *low;
      } else {
        refuse(words::takes_room());
      }
    } else if (key == "overdue") {
      if (const auto after = span()) {
        base.overdue = after->length;
      }
    } else if (key == "disk-timeout") {
      if (const auto timeout = span()) {
        base.disk_timeout = timeout->length;
      }
    } else if (key == "recorder-keys" || key == "profile") {
      if (!value || !value->starts_with('/')) {
        refuse(words::takes_file());
      } else {
        (key == "profile" ? base.profile : base.recorder_keys) = std::filesystem::path(*value);
      }
    } else if (key == "slots") {
      if (!count(node, kMostSlots, base.slot_count)) {
        refuse(words::takes_count(words::Counted::recorders, kMostSlots));
      }
    } else if (key == "upload") {
      read_upload(node, shown_as, base, problems);
    } else {
      problems.push_back({shown_as, name.source().begin.line, words::no_key(key, "", kKeys)});
    }
  }
  if (problems.empty() && base.upload &&
      (base.upload->endpoint.empty() || base.upload->bucket.empty() ||
       base.upload->credentials.empty())) {
    problems.push_back({shown_as, 0, words::needs("upload", "endpoint, bucket and credentials")});
  }
  if (!problems.empty()) {
    std::ranges::stable_sort(problems, {}, &StationProblem::line);
    return problems;
  }
  return base;
}

StationRead read_station(const StationSources& sources) {
  StationRead system = read_over({}, sources.system_file, false);
  if (!std::holds_alternative<Station>(system)) {
    return system;
  }
  const Station& station = std::get<Station>(system);
  std::filesystem::path other;
  bool named = false;
  if (const auto file = sources.getenv("KBC_STATION_FILE"); file && !file->empty()) {
    other = *file;
    named = true;
  } else if (const auto config = sources.getenv("XDG_CONFIG_HOME");
             config && config->starts_with('/')) {
    other = std::filesystem::path(*config) / "kbc-q7" / "station.toml";
  } else if (const auto home = sources.getenv("HOME")) {
    other = std::filesystem::path(*home) / ".config" / "kbc-q7" / "station.toml";
  }
  // The named file alone, or the user's over the system's, key by key; either way the rule it
  // does not name is the station's.
  Station base;
  base.erase = station.erase;
  StationRead read = read_over(named ? std::move(base) : station, other, named);
  if (auto* result = std::get_if<Station>(&read)) {
    const console::ErasePolicy& floor = station.erase;
    if (console::weaker(result->erase, floor)) {
      result->weakened.push_back(console::station_words::weaker_rule(
          other.string(), policy_text(result->erase), policy_text(floor)));
    }
    result->erase = console::at_least(floor, result->erase);
    if (floor.rule != console::EraseRule::warn && station.store) {
      result->erase_store = station.store;
    }
    if (named && !station.files.empty()) {
      result->files.insert(result->files.begin(), station.files.front());
    }
  }
  return read;
}

std::vector<std::string> station_problem_lines(const std::vector<StationProblem>& problems,
                                               bool chinese) {
  std::vector<std::string> lines;
  for (const StationProblem& problem : problems) {
    const console::ProfileError one{{{problem.line, problem.said}}};
    for (std::string& line : console::problem_lines(
             one, problem.file,
             chinese ? console::Language::chinese : console::Language::english)) {
      lines.push_back(std::move(line));
    }
  }
  return lines;
}

}  // namespace kbc::offload
