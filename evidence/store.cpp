#include "evidence/store.h"

#include "evidence/upload.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include <sys/stat.h>

namespace kbc::evidence {
std::optional<std::string> bag_info_value(const std::filesystem::path& bag,
                                          std::string_view label) {
  std::ifstream info(bag / "bag-info.txt");
  for (std::string line; std::getline(info, line);) {
    if (line.size() > label.size() && line.starts_with(label) && line[label.size()] == ':') {
      std::string_view value = std::string_view(line).substr(label.size() + 1);
      while (!value.empty() && value.front() == ' ') {
        value.remove_prefix(1);
      }
      return std::string(value);
    }
  }
  return std::nullopt;
}

bool read_payload_oxum(const std::filesystem::path& bag, std::uint64_t& bytes,
                       std::uint64_t& files) {
  const auto value = bag_info_value(bag, "Payload-Oxum");
  const std::size_t dot = value ? value->find('.') : std::string::npos;
  if (dot == std::string::npos) {
    return false;
  }
  const auto number = [](std::string_view text, std::uint64_t& out) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return error == std::errc() && end == text.data() + text.size();
  };
  const std::string_view text = *value;
  return number(text.substr(0, dot), bytes) && number(text.substr(dot + 1), files);
}

namespace {

std::string utc_text(std::chrono::sys_seconds when, const char* format) {
  const auto day = std::chrono::floor<std::chrono::days>(when);
  const std::chrono::year_month_day date(day);
  const std::chrono::hh_mm_ss time(when - day);
  char text[32];
  std::snprintf(text, sizeof text, format, static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return text;
}

}  // namespace

std::string utc_stamp(std::chrono::sys_seconds when) {
  return utc_text(when, "%04d%02u%02uT%02d%02d%02dZ");
}

std::string iso_utc(std::chrono::sys_seconds when) {
  return utc_text(when, "%04d-%02u-%02uT%02d:%02d:%02dZ");
}

std::optional<std::chrono::sys_seconds> parse_utc_stamp(std::string_view stamp) {
  if (stamp.size() != 16 || stamp[8] != 'T' || stamp[15] != 'Z') {
    return std::nullopt;
  }
  int parts[6] = {};
  const std::size_t starts[] = {0, 4, 6, 9, 11, 13};
  const std::size_t lengths[] = {4, 2, 2, 2, 2, 2};
  for (int i = 0; i < 6; ++i) {
    const char* begin = stamp.data() + starts[i];
    const auto [end, error] = std::from_chars(begin, begin + lengths[i], parts[i]);
    if (error != std::errc() || end != begin + lengths[i]) {
      return std::nullopt;
    }
  }
  const std::chrono::year_month_day date{std::chrono::year(parts[0]),
                                         std::chrono::month(static_cast<unsigned>(parts[1])),
                                         std::chrono::day(static_cast<unsigned>(parts[2]))};
  if (!date.ok() || parts[3] > 23 || parts[4] > 59 || parts[5] > 60) {
    return std::nullopt;
  }
  return std::chrono::sys_days(date) + std::chrono::hours(parts[3]) +
         std::chrono::minutes(parts[4]) + std::chrono::seconds(parts[5]);
}

std::string folder_name(std::optional<std::string_view> text) {
  std::string name;
  for (const char c : text.value_or("")) {
    const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                       c == '-' || c == '_';
    name += plain ? c : '_';
  }
  return name.empty() ? "unknown" : name.substr(0, 64);
}

std::filesystem::path Store::officer_folder(const Officer& officer) const {
  return root_ / folder_name(officer.unit_number) / folder_name(officer.user_number);
}

std::string Store::bag_name(std::string_view serial, std::chrono::sys_seconds started) {
  return folder_name(serial) + "_" + utc_stamp(started);
}

std::vector<StoredBag> Store::verified_bags(std::string_view serial) const {
  const std::string prefix = folder_name(serial) + "_";
  std::vector<StoredBag> bags;
  std::error_code error;
  // Two levels, unit then officer; nothing below them is followed.
  for (const auto& unit : std::filesystem::directory_iterator(root_, error)) {
    if (!unit.is_directory(error) || unit.is_symlink(error)) {
      continue;
    }
    for (const auto& officer : std::filesystem::directory_iterator(unit.path(), error)) {
      if (!officer.is_directory(error) || officer.is_symlink(error)) {
        continue;
      }
      for (const auto& entry : std::filesystem::directory_iterator(officer.path(), error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) != 0 || !entry.is_directory(error) || entry.is_symlink(error)) {
          continue;
        }
        const auto started = parse_utc_stamp(std::string_view(name).substr(prefix.size()));
        StoredBag bag{entry.path(), folder_name(serial), {}, 0, 0};
        if (!started || !std::filesystem::is_regular_file(entry.path() / "bagit.txt", error) ||
            !read_payload_oxum(entry.path(), bag.bytes, bag.files)) {
          continue;
        }
        bag.started = *started;
        bags.push_back(std::move(bag));
      }
    }
  }
  std::ranges::sort(bags, {}, &StoredBag::started);
  return bags;
}

std::optional<StoredBag> Store::newest_verified(std::string_view serial) const {
  std::vector<StoredBag> bags = verified_bags(serial);
  if (bags.empty()) {
    return std::nullopt;
  }
  return std::move(bags.back());
}

std::optional<console::OffloadFact> StoreLedger::newest_verified(std::string_view serial) {
  const std::optional<StoredBag> bag = store_.newest_verified(serial);
  if (!bag) {
    return std::nullopt;
  }
  // Whether the agency's object store has it verified too.
  const auto queued = UploadQueue(store_).find(bag->path.filename().string());
  return console::OffloadFact{bag->started, bag->files, bag->bytes, queued && queued->stored};
}

bool Store::shared() const {
  struct stat info {};
  return ::stat(root_.c_str(), &info) == 0 && (info.st_mode & S_IWGRP) != 0;
}

int Store::make_folder(const std::filesystem::path& folder) const {
  const bool group = shared();
  if (::mkdir(folder.c_str(), group ? 02770 : 0750) != 0) {
    return errno;
  }
  // mkdir took the umask off.
  return group && ::chmod(folder.c_str(), 02770) != 0 ? errno : 0;
}

void Store::share_file(int fd) const {
  if (shared()) {
    ::fchmod(fd, 0660);
  }
}

std::optional<std::string> process_env(std::string_view name) {
  const char* value = std::getenv(std::string(name).c_str());
  return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

std::filesystem::path default_store(const Getenv& getenv) {
  if (const auto data = getenv("XDG_DATA_HOME"); data && data->starts_with('/')) {
    return std::filesystem::path(*data) / "kbc-q7" / "evidence";
  }
  return std::filesystem::path(getenv("HOME").value_or("/")) / ".local" / "share" / "kbc-q7" /
         "evidence";
}

}  // namespace kbc::evidence
