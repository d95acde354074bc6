// The audit trail in the system journal: one entry per operation, sent to journald through
// libsystemd. Where journald does not run (a container, a system without systemd), entries go
// nowhere and the trace says so once.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "console/audit.h"

namespace kbc::journal {

// journald's socket for native entries, which sd_journal_sendv writes to.
inline constexpr std::string_view kJournalSocket = "/run/systemd/journal/socket";

// The user name of the process's real user; its number where the user database has no name.
std::string real_user_name();

class JournalTrail final : public console::AuditTrail {
 public:
  // `identifier`: SYSLOG_IDENTIFIER, the program's name. `socket`: where journald listens.
  explicit JournalTrail(std::string identifier, std::string socket = std::string(kJournalSocket));
  // The same, for entries of a service that acts for nobody at the station: KBC_OPERATOR names
  // the service ("kbc-station") instead of the process's user.
  JournalTrail(std::string identifier, std::string socket, std::string operator_name)
      : identifier_(std::move(identifier)),
        socket_(std::move(socket)),
        operator_(std::move(operator_name)) {}

  // Whether journald takes datagrams on its socket now.
  bool writable() override;
  void write(const console::AuditEntry& entry) override;

 private:
  void unwritten(int error);

  std::string identifier_;
  std::string socket_;
  std::string operator_ = real_user_name();
  std::mutex mutex_;  // an offload's recorders write from threads of their own
  bool said_ = false;
};

}  // namespace kbc::journal
