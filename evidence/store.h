// The station's evidence store: a folder of BagIt bags, one per offload,
//   STORE/<unit number>/<user number>/<serial>_<yyyymmddThhmmssZ>/
// a bag being written or cut short keeping the name with ".partial" after it. The names come
// from the recorder, which is untrusted: each becomes one plain folder name here.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/erase_guard.h"

namespace kbc::evidence {

inline constexpr std::string_view kPartial = ".partial";

// Who the recorder belongs to, as its identity record says; nullopt where it is not known (an
// offload from a disk switched by other means).
struct Officer {
  std::optional<std::string> user_number;
  std::optional<std::string> user_name;
  std::optional<std::string> unit_number;
  std::optional<std::string> unit_name;
};

// "20261208T143005Z".
std::string utc_stamp(std::chrono::sys_seconds when);
// "2026-12-08T14:30:05Z".
std::string iso_utc(std::chrono::sys_seconds when);
// The time of a stamp; nullopt for anything else.
std::optional<std::chrono::sys_seconds> parse_utc_stamp(std::string_view stamp);

// A recorder's text as one folder name: ASCII letters, digits, '-' and '_' kept, anything else
// '_'; "unknown" for nothing, or for a text that is only dots.
std::string folder_name(std::optional<std::string_view> text);

// A value of a bag's bag-info.txt: "Recorder-Serial" gives "KBC0002"; nullopt when it has none.
std::optional<std::string> bag_info_value(const std::filesystem::path& bag, std::string_view label);
// "Payload-Oxum: BYTES.FILES" of a bag's bag-info.txt; false when it has none.
bool read_payload_oxum(const std::filesystem::path& bag, std::uint64_t& bytes,
                       std::uint64_t& files);

// A verified bag of the store.
struct StoredBag {
  std::filesystem::path path;
  std::string serial_folder;  // folder_name(serial)
  std::chrono::sys_seconds started{};
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
};

class Store {
 public:
  explicit Store(std::filesystem::path root) : root_(std::move(root)) {}
  const std::filesystem::path& root() const { return root_; }

  // Where the bags of this recorder's officer go.
  std::filesystem::path officer_folder(const Officer& officer) const;
  // The name of a bag of this serial begun at `started`, without ".partial".
  static std::string bag_name(std::string_view serial, std::chrono::sys_seconds started);

  // Every verified bag of the serial (its Payload-Oxum read), oldest first.
  std::vector<StoredBag> verified_bags(std::string_view serial) const;
  // The newest of them; nullopt when there is none.
  std::optional<StoredBag> newest_verified(std::string_view serial) const;

  // A store whose root its group may write (the packaged /var/lib/kbc-q7/evidence, 2770) is the
  // station's, shared by the operators and the upload service through that group: its folders
  // are made 2770 and the files others append to 0660, whatever anyone's umask. Any other store
  // is its owner's: 0750 and 0640.
  bool shared() const;
  // Makes the folder (its parent there) with the store's mode: 0 when made, EEXIST when it was
  // there, else the errno.
  int make_folder(const std::filesystem::path& folder) const;
  // Gives a file others of a shared store append to their write permission.
  void share_file(int fd) const;

 private:
  std::filesystem::path root_;
};

// An environment to look names up in: the process's, or a test's.
using Getenv = std::function<std::optional<std::string>(std::string_view name)>;
std::optional<std::string> process_env(std::string_view name);

// The store when neither the station file nor --store names one: $XDG_DATA_HOME/kbc-q7/evidence
// (~/.local/share/kbc-q7/evidence).
std::filesystem::path default_store(const Getenv& getenv = process_env);

// The store as the erase question asks it: the newest verified bag of a serial number.
class StoreLedger final : public console::OffloadLedger {
 public:
  explicit StoreLedger(Store store) : store_(std::move(store)) {}
  std::optional<console::OffloadFact> newest_verified(std::string_view serial) override;

 private:
  Store store_;
};

}  // namespace kbc::evidence
