#include "station/recorder_keys.h"

#include <toml++/toml.h>

#include "console/handler.h"
#include "link/gbk.h"
#include "offload/secret_file.h"

namespace kbc::station {
namespace {

// Whether a key passes the buttons' own pre-check.
bool usable(std::string_view key) {
  return !console::pre_check_failure(console::PreCheck::full, link::GbkText::from_utf8(key));
}

std::string at_line(const toml::node& node, std::string_view what) {
  return "line " + std::to_string(node.source().begin.line) + ": " + std::string(what);
}

}  // namespace

const link::Secret* RecorderKeys::key_for(std::string_view serial) const {
  if (const auto found = serials_.find(serial); found != serials_.end()) {
    return &found->second;
  }
  return fallback_ ? &*fallback_ : nullptr;
}

std::variant<RecorderKeys, std::string> parse_recorder_keys(std::string_view text) {
  toml::table table;
  try {
    table = toml::parse(text);
  } catch (const toml::parse_error& error) {
    // toml++'s description may quote the text, and so a key: only the place is told.
    return "line " + std::to_string(error.source().begin.line) + ": not TOML";
  }
  std::optional<link::Secret> fallback;
  RecorderKeys::BySerial serials;
  for (const auto& [name, node] : table) {
    if (name.str() == "default") {
      const std::optional<std::string_view> key = node.value<std::string_view>();
      if (!key || !usable(*key)) {
        return at_line(node, "default is not a six-character password in quotes");
      }
      fallback.emplace(*key);
    } else if (name.str() == "serials") {
      const toml::table* by_serial = node.as_table();
      if (by_serial == nullptr) {
        return at_line(node, "serials takes a table, [serials]");
      }
      for (const auto& [serial, key_node] : *by_serial) {
        const std::optional<std::string_view> key = key_node.value<std::string_view>();
        if (serial.str().empty() || !key || !usable(*key)) {
          return at_line(key_node, "the key of '" + std::string(serial.str()) +
                                       "' is not a six-character password in quotes");
        }
        serials.emplace(std::string(serial.str()), link::Secret(*key));
      }
    } else {
      return at_line(node, "'" + std::string(name.str()) +
                               "' is no key of a recorder keys file; the keys: default, [serials]");
    }
  }
  if (!fallback && serials.empty()) {
    return std::string("holds no key: give default = \"......\" or keys under [serials]");
  }
  return RecorderKeys(std::move(fallback), std::move(serials));
}

std::variant<RecorderKeys, std::string> read_recorder_keys(const std::filesystem::path& path,
                                                           const char* credentials) {
  auto read =
      offload::read_secret_file("the recorder keys file", path, credentials, kKeysCredential);
  if (auto* problem = std::get_if<std::string>(&read)) {
    return std::move(*problem);
  }
  const offload::SecretFile& file = std::get<offload::SecretFile>(read);
  auto keys = parse_recorder_keys(file.text.view());
  if (auto* problem = std::get_if<std::string>(&keys)) {
    *problem = "the recorder keys file " + file.file.string() + ": " + *problem;
  }
  return keys;
}

}  // namespace kbc::station
