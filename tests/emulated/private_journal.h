// A systemd-journald of the test's own. The test process moves into a private mount namespace
// (unshare -m) and mounts tmpfs on /run/systemd and /run/log, and on /var/log/journal where there
// is one, so that the machine's journal is neither written nor read; then it starts journald, which
// needs no systemd as PID 1: it binds its own sockets under /run/systemd/journal, keeps its files
// in /run/log/journal/MACHINE-ID (from /etc/machine-id) and says READY=1 on $NOTIFY_SOCKET once it
// takes entries. Programs the test starts afterwards share the namespace, and so the journal.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "emulated_run.h"

namespace kbc::emulated {

// One journal entry in journalctl's export format: its fields by name.
using JournalEntry = std::map<std::string, std::string>;

// The entries of `journalctl -o export` output; nullopt when it does not parse.
std::optional<std::vector<JournalEntry>> parse_export(const std::string& text);

class PrivateJournal {
 public:
  // Why the journal could not be set up, or nullopt. `skip`: the machine does not allow it
  // (not root, no mount namespaces); otherwise the set-up failed.
  struct Failure {
    bool skip;
    std::string reason;
  };

  PrivateJournal() = default;
  PrivateJournal(const PrivateJournal&) = delete;
  PrivateJournal& operator=(const PrivateJournal&) = delete;
  // Stops journald.
  ~PrivateJournal();

  // Files of its own go into `scratch`, which must outlive it.
  std::optional<Failure> start(const ScratchDir& scratch);

  // journalctl --sync, then the entries of these programs from the journal's files, read with
  // journalctl --directory; nullopt when journalctl failed, and error() says how.
  std::optional<std::vector<JournalEntry>> entries(const std::vector<std::string>& identifiers);
  const std::string& error() const { return error_; }

 private:
  pid_t journald_ = -1;
  const ScratchDir* scratch_ = nullptr;
  std::string error_;
};

}  // namespace kbc::emulated
