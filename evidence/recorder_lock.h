// One offload of a recorder at a time, across processes, users and the window: a lock file per
// serial number under the store (STORE/.locks/<serial>.lock), held with flock for the whole run
// and naming who holds it. The lock goes with its holder, a crash included; over NFS, Linux
// passes flock on to the server as a byte-range lock.
#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "evidence/store.h"
#include "link/descriptor.h"

namespace kbc::evidence {

class RecorderLock;

// Another run holds the recorder: "host station-3, pid 4242, user alice, since
// 2026-12-08T14:30:05Z", as it wrote it.
struct LockBusy {
  std::string holder;
};

// The lock's file could not be made or opened: the errno.
struct LockFailed {
  int error;
};

using Locked = std::variant<RecorderLock, LockBusy, LockFailed>;

// Takes the recorder's lock without waiting. `who` is what a second run is told: the host,
// process and user of this one.
Locked lock_recorder(const Store& store, std::string_view serial, std::string_view who);

// Held until it goes. Only lock_recorder makes one, so that whatever takes one as a proof holds it.
class RecorderLock {
 public:
  RecorderLock(RecorderLock&&) = default;
  RecorderLock& operator=(RecorderLock&&) = default;
  const std::string& serial() const { return serial_; }

 private:
  friend Locked lock_recorder(const Store& store, std::string_view serial, std::string_view who);
  RecorderLock(link::Descriptor fd, std::string serial)
      : fd_(std::move(fd)), serial_(std::move(serial)) {}

  link::Descriptor fd_;
  std::string serial_;
};

// "host station-3, pid 4242, user alice": what this process writes into a lock it takes.
std::string lock_holder_text(std::string_view host, std::string_view user);

}  // namespace kbc::evidence
