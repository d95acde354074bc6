#include "station/recorder_keys.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <toml++/toml.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "console/handler.h"
#include "link/descriptor.h"
#include "link/gbk.h"

namespace kbc::station {
namespace {

constexpr std::size_t kMostBytes = 64 * 1024;

// Why a key would not pass the buttons' own pre-check, in English; nullopt when it would.
std::optional<std::string> key_problem(std::string_view key) {
  if (console::pre_check_failure(console::PreCheck::full, link::GbkText::from_utf8(key))) {
    return std::string("is not a six-character password");
  }
  return std::nullopt;
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
      if (!key || key_problem(*key)) {
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
        if (serial.str().empty() || !key || key_problem(*key)) {
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
  std::filesystem::path file = path;
  bool credential = false;
  if (credentials != nullptr && *credentials == '/') {
    const std::filesystem::path handed = std::filesystem::path(credentials) / kKeysCredential;
    if (::access(handed.c_str(), F_OK) == 0) {
      file = handed;
      credential = true;
    }
  }
  const link::Descriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY));
  if (fd.get() < 0) {
    return file.string() + ": " + std::strerror(errno);
  }
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return file.string() + ": not a regular file";
  }
  // Its owner and the service's group may read it; nobody else may read it or change it.
  if (!credential && (status.st_mode & (S_IROTH | S_IWOTH | S_IWGRP)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
    return file.string() + ": others may read or change it (mode " + mode +
           "); chmod 0600 or 0640 it";
  }
  if (static_cast<std::size_t>(status.st_size) > kMostBytes) {
    return file.string() + ": larger than 64 KiB";
  }
  link::Secret text(std::string(static_cast<std::size_t>(status.st_size), '\0'));
  std::size_t got = 0;
  auto* bytes = const_cast<char*>(text.view().data());
  while (got < text.size()) {
    const ssize_t n = ::read(fd.get(), bytes + got, text.size() - got);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return file.string() + ": " + (n < 0 ? std::strerror(errno) : "shorter than it was");
    }
    got += static_cast<std::size_t>(n);
  }
  auto keys = parse_recorder_keys(text.view());
  if (auto* problem = std::get_if<std::string>(&keys)) {
    *problem = file.string() + ": " + *problem;
  }
  return keys;
}

}  // namespace kbc::station
