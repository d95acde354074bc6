#include "evidence/station.h"

#include <toml++/toml.h>

#include <algorithm>
#include <charconv>
#include <system_error>

#include "console/profile_file.h"

namespace kbc::evidence {
namespace {

constexpr std::string_view kKeys = "store, erase, offload-window, [upload]";
constexpr std::string_view kUploadKeys =
    "endpoint, region, bucket, prefix, retention-days, verify, connections, credentials";

std::string in_quotes(std::string_view text) {
  std::string out(1, '\'');
  out.append(text).append("'");
  return out;
}

// The [upload] table over what `station` says of it already.
void read_upload(const toml::node& node, const std::string& shown_as, Station& station,
                 std::vector<StationProblem>& problems) {
  const toml::table* table = node.as_table();
  if (table == nullptr) {
    problems.push_back({shown_as,
                        node.source().begin.line,
                        {"upload: takes a table, [upload]", "upload: 须为表 [upload]"}});
    return;
  }
  UploadSettings upload = station.upload.value_or(UploadSettings{});
  for (const auto& [name, value] : *table) {
    const std::string key(name.str());
    const std::size_t line = value.source().begin.line;
    const auto refuse = [&](const std::string& english, const std::string& chinese) {
      problems.push_back(
          {shown_as, line, {"upload." + key + ": " + english, "upload." + key + ": " + chinese}});
    };
    const std::optional<std::string> text = value.value<std::string>();
    const std::optional<std::int64_t> number = value.value<std::int64_t>();
    // A whole number from 1 to `most`.
    const auto count = [&](int& into, std::int64_t most, const std::string& english,
                           const std::string& chinese) {
      if (!number || *number < 1 || *number > most) {
        refuse(english, chinese);
      } else {
        into = static_cast<int>(*number);
      }
    };
    if (key == "retention-days") {
      count(upload.retention_days, 36500, "takes a number of days from 1 to 36500",
            "须为1到36500之间的天数");
    } else if (key == "connections") {
      count(upload.connections, 16, "takes a number of connections from 1 to 16",
            "须为1到16之间的连接数");
    } else if (key == "verify") {
      if (text == "head") {
        upload.verify = UploadSettings::Verify::head;
      } else if (text == "read-back") {
        upload.verify = UploadSettings::Verify::read_back;
      } else {
        refuse("takes \"head\" or \"read-back\"", "须为 \"head\" 或 \"read-back\"");
      }
    } else if (key == "endpoint") {
      if (!text || !(text->starts_with("http://") || text->starts_with("https://"))) {
        refuse("takes an http:// or https:// address in quotes",
               "须为带引号的 http:// 或 https:// 地址");
      } else {
        upload.endpoint = *text;
        while (upload.endpoint.ends_with('/')) {
          upload.endpoint.pop_back();
        }
      }
    } else if (key == "credentials") {
      if (!text || !text->starts_with('/')) {
        refuse("takes an absolute file in quotes", "须为带引号的绝对路径");
      } else {
        upload.credentials = *text;
      }
    } else if (key == "region" || key == "bucket" || key == "prefix") {
      if (!text || (text->empty() && key != "prefix")) {
        refuse("takes a text in quotes", "须为带引号的文字");
      } else {
        (key == "region" ? upload.region : key == "bucket" ? upload.bucket : upload.prefix) = *text;
      }
    } else {
      problems.push_back(
          {shown_as,
           name.source().begin.line,
           {in_quotes(key) + " is no key of [upload]; the keys: " + std::string(kUploadKeys),
            in_quotes(key) +
                " 不是 [upload] 的设置项，可用的设置项: " + std::string(kUploadKeys)}});
    }
  }
  station.upload = std::move(upload);
}

}  // namespace

std::optional<std::chrono::seconds> parse_span(std::string_view text) {
  long long count = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
  if (error != std::errc() || end == text.data() || count <= 0) {
    return std::nullopt;
  }
  const std::string_view unit(end, static_cast<std::size_t>(text.data() + text.size() - end));
  long long scale = 0;
  if (unit == "s" || unit == "sec") {
    scale = 1;
  } else if (unit == "min" || unit == "m") {
    scale = 60;
  } else if (unit == "h") {
    scale = 3600;
  } else if (unit == "d") {
    scale = 86400;
  }
  // Ten years at most: anything longer is a slip of the keyboard.
  if (scale == 0 || count > 10LL * 366 * 86400 / scale) {
    return std::nullopt;
  }
  return std::chrono::seconds(count * scale);
}

StationRead parse_station(std::string_view text, const std::string& shown_as, Station base) {
  std::vector<StationProblem> problems;
  toml::table table;
  try {
    table = toml::parse(text);
  } catch (const toml::parse_error& error) {
    problems.push_back({shown_as,
                        error.source().begin.line,
                        {"not TOML: " + std::string(error.description()),
                         "不是有效的TOML格式，请检查此行的引号、等号和设置项"}});
    return problems;
  }
  for (const auto& [name, node] : table) {
    const std::size_t line = node.source().begin.line;
    const std::string key(name.str());
    const std::optional<std::string_view> value = node.value<std::string_view>();
    const auto refuse = [&](std::string english, std::string chinese) {
      problems.push_back({shown_as, line, {key + ": " + english, key + ": " + chinese}});
    };
    if (key == "store") {
      if (!value || value->empty() || value->front() != '/') {
        refuse("takes an absolute folder in quotes, such as store = \"/srv/evidence\"",
               "须为带引号的绝对路径，如 store = \"/srv/evidence\"");
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
        refuse("takes \"warn\", \"require-offload\" or \"require-upload\"",
               "须为 \"warn\"、\"require-offload\" 或 \"require-upload\"");
      }
    } else if (key == "offload-window") {
      const auto span = value ? parse_span(*value) : std::nullopt;
      if (!span) {
        refuse("takes a span such as \"30min\", \"90s\", \"2h\" or \"1d\"",
               "须为时长，如 \"30min\"、\"90s\"、\"2h\" 或 \"1d\"");
      } else {
        base.erase.window = *span;
      }
    } else if (key == "upload") {
      read_upload(node, shown_as, base, problems);
    } else {
      problems.push_back(
          {shown_as,
           name.source().begin.line,
           {in_quotes(key) + " is no key of a station file; the keys: " + std::string(kKeys),
            in_quotes(key) + " 不是站点配置文件的设置项，可用的设置项: " + std::string(kKeys)}});
    }
  }
  if (problems.empty() && base.upload &&
      (base.upload->endpoint.empty() || base.upload->bucket.empty() ||
       base.upload->credentials.empty())) {
    problems.push_back({shown_as,
                        0,
                        {"[upload] needs endpoint, bucket and credentials",
                         "[upload] 须有 endpoint、bucket 和 credentials"}});
  }
  if (!problems.empty()) {
    std::ranges::stable_sort(problems, {}, &StationProblem::line);
    return problems;
  }
  return base;
}

namespace {

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

}  // namespace

StationRead read_station(const std::filesystem::path& system_file,
                         const std::filesystem::path& user_file) {
  StationRead read = read_over({}, system_file, false);
  if (auto* station = std::get_if<Station>(&read)) {
    return read_over(std::move(*station), user_file, false);
  }
  return read;
}

StationRead read_station(const Getenv& getenv) {
  if (const auto named = getenv("KBC_STATION_FILE"); named && !named->empty()) {
    return read_over({}, *named, true);
  }
  std::filesystem::path user;
  if (const auto config = getenv("XDG_CONFIG_HOME"); config && config->starts_with('/')) {
    user = std::filesystem::path(*config) / "kbc-q7" / "station.toml";
  } else if (const auto home = getenv("HOME")) {
    user = std::filesystem::path(*home) / ".config" / "kbc-q7" / "station.toml";
  }
  return read_station(kSystemStationFile, user);
}

std::vector<std::string> station_problem_lines(const std::vector<StationProblem>& problems,
                                               bool chinese) {
  std::vector<std::string> lines;
  for (const StationProblem& problem : problems) {
    const std::string number = std::to_string(problem.line);
    std::string line = problem.file;
    if (chinese) {
      line.append(problem.line > 0 ? " 第" + number + "行" : "")
          .append(": ")
          .append(problem.said.chinese);
    } else {
      line.append(problem.line > 0 ? ":" + number : "").append(": ").append(problem.said.english);
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace kbc::evidence
