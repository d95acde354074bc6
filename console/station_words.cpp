#include "console/station_words.h"

namespace kbc::console::station_words {
namespace {

std::string text(std::string_view part) {
  return std::string(part);
}

}  // namespace

Wording not_toml(std::string_view description) {
  return {"not TOML: " + text(description), "不是有效的TOML格式，请检查此行的引号、等号和设置项"};
}

Wording takes_folder(std::string_view example) {
  return {"takes an absolute folder in quotes, such as " + text(example),
          "须为带引号的绝对路径，如 " + text(example)};
}

Wording takes_file() {
  return {"takes an absolute file in quotes", "须为带引号的绝对路径"};
}

Wording takes_erase_rule() {
  return {"takes \"warn\", \"require-offload\" or \"require-upload\"",
          "须为 \"warn\"、\"require-offload\" 或 \"require-upload\""};
}

Wording takes_verify() {
  return {"takes \"head\" or \"read-back\"", "须为 \"head\" 或 \"read-back\""};
}

Wording takes_span() {
  return {"takes a span such as \"30min\", \"90s\", \"2h\" or \"1d\"",
          "须为时长，如 \"30min\"、\"90s\"、\"2h\" 或 \"1d\""};
}

Wording takes_text() {
  return {"takes a text in quotes", "须为带引号的文字"};
}

Wording takes_address() {
  return {"takes an http:// or https:// address in quotes",
          "须为带引号的 http:// 或 https:// 地址"};
}

Wording takes_table(std::string_view table) {
  return {"takes a table, [" + text(table) + "]", "须为表 [" + text(table) + "]"};
}

Wording takes_count(Counted counted, long long most) {
  const std::string range = std::to_string(most);
  switch (counted) {
    case Counted::days:
      return {"takes a number of days from 1 to " + range, "须为1到" + range + "之间的天数"};
    case Counted::connections:
      return {"takes a number of connections from 1 to " + range,
              "须为1到" + range + "之间的连接数"};
    case Counted::recorders:
      return {"takes a number of recorders from 1 to " + range,
              "须为1到" + range + "之间的记录仪台数"};
  }
  return {};
}

Wording no_key(std::string_view key, std::string_view table, std::string_view keys) {
  const std::string quoted = "'" + text(key) + "'";
  if (table.empty()) {
    return {quoted + " is no key of a station file; the keys: " + text(keys),
            quoted + " 不是站点配置文件的设置项，可用的设置项: " + text(keys)};
  }
  return {quoted + " is no key of [" + text(table) + "]; the keys: " + text(keys),
          quoted + " 不是 [" + text(table) + "] 的设置项，可用的设置项: " + text(keys)};
}

Wording needs(std::string_view table, std::string_view keys) {
  return {"[" + text(table) + "] needs " + text(keys), "[" + text(table) + "] 须有 " + text(keys)};
}

Wording takes_room() {
  return {"takes a share of the store such as \"15%\" or a size such as \"200G\"",
          "须为证据库的比例如 \"15%\" 或大小如 \"200G\""};
}

Wording weaker_rule(std::string_view file, std::string_view asked, std::string_view holds) {
  return {text(file) + " asks for " + text(asked) + ", weaker than the station's " + text(holds) +
              ", which holds",
          text(file) + " 要求的 " + text(asked) + " 比本站规定的 " + text(holds) +
              " 宽松，仍按本站规定执行"};
}

}  // namespace kbc::console::station_words
