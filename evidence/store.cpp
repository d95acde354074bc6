#include "evidence/store.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "evidence/bag_info.h"

namespace kbc::evidence {
namespace fs = std::filesystem;
namespace {

bool plain_folder(const fs::directory_entry& entry) {
  std::error_code error;
  return entry.is_directory(error) && !entry.is_symlink(error);
}

// The bag at `path`, named `name`, when it is a verified one.
std::optional<StoredBag> verified_bag(const fs::path& path, std::string_view stamp,
                                      bool set_aside) {
  std::error_code error;
  const auto started = parse_utc_stamp(stamp);
  if (!started || !fs::is_regular_file(path / "bagit.txt", error) ||
      !fs::is_regular_file(path / "tagmanifest-sha256.txt", error)) {
    return std::nullopt;
  }
  const auto info = read_bag_info(path);
  if (!info) {
    return std::nullopt;
  }
  const auto value = [&](std::string_view label) -> std::string_view {
    const auto found = info->find(label);
    return found != info->end() ? std::string_view(found->second) : std::string_view();
  };
  const auto oxum = parse_payload_oxum(value("Payload-Oxum"));
  if (!oxum) {
    return std::nullopt;
  }
  // A bag of an earlier version of the offload has no time of its verification: it counts as
  // verified when it began.
  const auto verified = parse_iso_utc(value("Offload-Verified"));
  const std::string_view serial = value("Recorder-Serial");
  return StoredBag{path,        path.filename().string(),
                   *started,    verified.value_or(*started),
                   oxum->files, oxum->bytes,
                   set_aside,   serial.empty() ? std::nullopt : std::optional<std::string>(serial)};
}

void by_verification(std::vector<StoredBag>& bags) {
  std::ranges::stable_sort(bags, [](const StoredBag& a, const StoredBag& b) {
    return a.verified != b.verified ? a.verified < b.verified : a.name < b.name;
  });
}

}  // namespace

std::string folder_name(std::optional<std::string_view> text) {
  std::string name;
  for (const char c : text.value_or("")) {
    const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                       c == '-' || c == '_';
    name += plain ? c : '_';
  }
  return name.empty() ? "unknown" : name.substr(0, 64);
}

fs::path Store::officer_folder(const Officer& officer) const {
  return root_ / folder_name(officer.unit_number) / folder_name(officer.user_number);
}

std::string Store::bag_name(std::string_view serial, std::chrono::sys_seconds started) {
  return folder_name(serial) + "_" + utc_stamp(started);
}

std::string Store::set_aside_name(std::string_view serial, std::chrono::sys_seconds started) {
  return bag_name(serial, started) + std::string(kSetAside);
}

void Store::for_each_bag(std::string_view prefix,
                         const std::function<void(const fs::path&)>& each) const {
  std::error_code error;
  for (const auto& unit : fs::directory_iterator(root_, error)) {
    if (!plain_folder(unit) || unit.path().filename().string().starts_with('.')) {
      continue;
    }
    for (const auto& officer : fs::directory_iterator(unit.path(), error)) {
      if (!plain_folder(officer)) {
        continue;
      }
      for (const auto& entry : fs::directory_iterator(officer.path(), error)) {
        if (plain_folder(entry) && entry.path().filename().string().starts_with(prefix)) {
          each(entry.path());
        }
      }
    }
  }
}

std::vector<StoredBag> Store::offloads(std::string_view serial) const {
  const std::string prefix = folder_name(serial) + "_";
  std::vector<StoredBag> bags;
  for_each_bag(prefix, [&](const fs::path& path) {
    const std::string name = path.filename().string();
    if (auto bag = verified_bag(path, std::string_view(name).substr(prefix.size()), false)) {
      bags.push_back(std::move(*bag));
    }
  });
  by_verification(bags);
  return bags;
}

std::optional<StoredBag> Store::newest_offload(std::string_view serial) const {
  std::vector<StoredBag> bags = offloads(serial);
  if (bags.empty()) {
    return std::nullopt;
  }
  return std::move(bags.back());
}

std::vector<StoredBag> Store::bags() const {
  std::vector<StoredBag> bags;
  for_each_bag("", [&](const fs::path& path) {
    const std::string filename = path.filename().string();
    std::string_view name = filename;
    const bool set_aside = name.ends_with(kSetAside);
    if (set_aside) {
      name.remove_suffix(kSetAside.size());
    }
    const std::size_t stamp = name.rfind('_');
    if (stamp != std::string_view::npos) {
      if (auto bag = verified_bag(path, name.substr(stamp + 1), set_aside)) {
        bags.push_back(std::move(*bag));
      }
    }
  });
  by_verification(bags);
  return bags;
}

bool Store::shared() const {
  struct stat info {};
  return ::stat(root_.c_str(), &info) == 0 && (info.st_mode & S_IWGRP) != 0;
}

mode_t Store::folder_mode() const {
  return shared() ? 02770 : 0750;
}

int Store::make_folder(const fs::path& folder) const {
  const mode_t mode = folder_mode();
  if (::mkdir(folder.c_str(), mode) != 0) {
    return errno;
  }
  // mkdir took the umask off.
  return ::chmod(folder.c_str(), mode) != 0 ? errno : 0;
}

int Store::make_folders(const fs::path& base, const fs::path& below,
                        const std::function<void(const fs::path&)>& made) const {
  fs::path at = base;
  for (const fs::path& part : below) {
    const fs::path next = at / part;
    if (const int error = make_folder(next); error == 0) {
      if (made) {
        made(at);
        made(next);
      }
    } else if (error != EEXIST) {
      return error;
    }
    at = next;
  }
  return 0;
}

std::variant<std::string, int> Store::make_new_bag(
    const fs::path& folder, std::chrono::sys_seconds& when,
    const std::function<std::string(std::chrono::sys_seconds)>& name) const {
  for (;; when += std::chrono::seconds(1)) {
    std::string bag = name(when);
    std::error_code there;
    if (fs::exists(folder / bag, there)) {
      continue;
    }
    const int error = make_folder(folder / (bag + std::string(kPartial)));
    if (error == 0) {
      return bag;
    }
    if (error != EEXIST) {
      return error;
    }
  }
}

void Store::share_file(int fd) const {
  ::fchmod(fd, shared() ? 0660 : 0640);
}

std::optional<std::string> process_env(std::string_view name) {
  const char* value = std::getenv(std::string(name).c_str());
  return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

fs::path default_store(const Getenv& getenv) {
  if (const auto data = getenv("XDG_DATA_HOME"); data && data->starts_with('/')) {
    return fs::path(*data) / "kbc-q7" / "evidence";
  }
  return fs::path(getenv("HOME").value_or("/")) / ".local" / "share" / "kbc-q7" / "evidence";
}

fs::path simulated_store(const Getenv& getenv) {
  return default_store(getenv).parent_path() / "simulated-evidence";
}

}  // namespace kbc::evidence
