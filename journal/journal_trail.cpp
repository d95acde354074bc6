#include "journal/journal_trail.h"

#include <pwd.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "journal/fields.h"
#include "link/descriptor.h"
#include "link/trace.h"

// No CODE_FILE, CODE_LINE or CODE_FUNC fields: they would name this source file, not the
// operation.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>

namespace kbc::journal {

std::string real_user_name() {
  const uid_t uid = ::getuid();
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return found->pw_name;
  }
  return std::to_string(uid);
}

JournalTrail::JournalTrail(std::string identifier, std::string socket)
    : identifier_(std::move(identifier)), socket_(std::move(socket)) {}

bool JournalTrail::writable() {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socket_.size() >= sizeof address.sun_path) {
    unwritten(ENAMETOOLONG);
    return false;
  }
  std::memcpy(address.sun_path, socket_.data(), socket_.size());
  const link::Descriptor fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (fd.get() < 0 ||
      ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    unwritten(errno);
    return false;
  }
  return true;
}

void JournalTrail::write(const console::AuditEntry& entry) {
  const std::vector<std::string> fields = entry_fields(entry, identifier_, operator_);
  std::vector<iovec> parts;
  for (const std::string& field : fields) {
    parts.push_back({const_cast<char*>(field.data()), field.size()});
  }
  if (const int rc = sd_journal_sendv(parts.data(), static_cast<int>(parts.size())); rc < 0) {
    unwritten(-rc);
  }
}

void JournalTrail::unwritten(int error) {
  const std::lock_guard lock(mutex_);
  if (!said_) {
    said_ = true;
    link::tracef("The journal could not be written (%s); operations are not recorded",
                 std::strerror(error));
  }
}

}  // namespace kbc::journal
