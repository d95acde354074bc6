// The station's evidence store: a folder of BagIt bags, one per offload,
//   STORE/<unit number>/<user number>/<serial>_<yyyymmddThhmmssZ>/
// a bag being written or cut short keeping the name with ".partial" after it, and the files of
// bags cut short that the recorder no longer held in a bag of their own beside them,
// <serial>_<yyyymmddThhmmssZ>-set-aside. The names come from the recorder, which is untrusted:
// each becomes one plain folder name here.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kbc::evidence {

inline constexpr std::string_view kPartial = ".partial";
inline constexpr std::string_view kSetAside = "-set-aside";

// A verified bag is its owner's alone to change: nobody may write it, its group and owner read it.
inline constexpr mode_t kSealedFile = 0440;
inline constexpr mode_t kSealedFolder = 02550;

// Who the recorder belongs to, as its identity record says; nullopt where it is not known (an
// offload from a disk switched by other means).
struct Officer {
  std::optional<std::string> user_number;
  std::optional<std::string> user_name;
  std::optional<std::string> unit_number;
  std::optional<std::string> unit_name;
};

// A recorder's text as one folder name: ASCII letters, digits, '-' and '_' kept, anything else
// '_'; "unknown" for nothing, or for a text that is only dots.
std::string folder_name(std::optional<std::string_view> text);

// A verified bag of the store.
struct StoredBag {
  std::filesystem::path path;
  std::string name;                     // its folder's
  std::chrono::sys_seconds started{};   // from its name
  std::chrono::sys_seconds verified{};  // bag-info's Offload-Verified
  std::uint64_t files = 0;              // Payload-Oxum
  std::uint64_t bytes = 0;
  bool set_aside = false;             // files of offloads cut short, not an offload of the recorder
  std::optional<std::string> serial;  // bag-info's Recorder-Serial
};

class Store {
 public:
  explicit Store(std::filesystem::path root) : root_(std::move(root)) {}
  const std::filesystem::path& root() const { return root_; }

  // Where the bags of this recorder's officer go.
  std::filesystem::path officer_folder(const Officer& officer) const;
  // The name of a bag of this serial begun at `started`, without ".partial".
  static std::string bag_name(std::string_view serial, std::chrono::sys_seconds started);
  // The name of the bag of files set aside by the offload begun at `started`.
  static std::string set_aside_name(std::string_view serial, std::chrono::sys_seconds started);

  // Every verified offload of the serial, the one verified first first; set-aside bags are none.
  std::vector<StoredBag> offloads(std::string_view serial) const;
  // The one verified last; nullopt when there is none.
  std::optional<StoredBag> newest_offload(std::string_view serial) const;
  // Every verified bag of the store, set-aside ones included, the one verified first first.
  std::vector<StoredBag> bags() const;

  // A store whose root its group may write (the packaged /var/lib/kbc-q7/evidence, 2770) is the
  // station's, shared by the operators and the upload service through that group: its folders
  // are made 2770 and the files others append to 0660. Any other store is its owner's: 0750 and
  // 0640. Either whatever anyone's umask.
  bool shared() const;
  // The mode of the folders this store makes, and of a bag's while it is written: 02770 in a
  // shared store, 0750 in any other.
  mode_t folder_mode() const;
  // Makes the folder (its parent there) with the store's mode: 0 when made, EEXIST when it was
  // there, else the errno.
  int make_folder(const std::filesystem::path& folder) const;
  // Makes each missing folder of `folder` below `base` (which is there): 0, or the errno.
  // `made` hears of each folder made, and of the folder it was made in.
  int make_folders(const std::filesystem::path& base, const std::filesystem::path& below,
                   const std::function<void(const std::filesystem::path&)>& made = {}) const;
  // A new ".partial" folder in `folder` for the bag `name(when)` names, made here by this run and
  // never one that was there: `when` goes a second on while a bag of that name, verified or not,
  // is there. The folder's name without ".partial", or the errno.
  std::variant<std::string, int> make_new_bag(
      const std::filesystem::path& folder, std::chrono::sys_seconds& when,
      const std::function<std::string(std::chrono::sys_seconds)>& name) const;
  // Gives a file others of a shared store append to their write permission (0660), and any
  // other its owner's (0640), whatever the umask.
  void share_file(int fd) const;

 private:
  // `each` for every folder of a bag's place (unit, then officer) whose name starts with
  // `prefix`; nothing below them is followed.
  void for_each_bag(std::string_view prefix,
                    const std::function<void(const std::filesystem::path&)>& each) const;

  std::filesystem::path root_;
};

// An environment to look names up in: the process's, or a test's.
using Getenv = std::function<std::optional<std::string>(std::string_view name)>;
std::optional<std::string> process_env(std::string_view name);

// The store when neither the station file nor --store names one: $XDG_DATA_HOME/kbc-q7/evidence
// (~/.local/share/kbc-q7/evidence).
std::filesystem::path default_store(const Getenv& getenv = process_env);

// Where simulated recorders' bags go when no --store names a store: beside the default store, as
// simulated-evidence, so that no sample bag ever stands for a real recorder's offload.
std::filesystem::path simulated_store(const Getenv& getenv = process_env);

}  // namespace kbc::evidence
