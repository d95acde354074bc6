// A POSIX file descriptor of our own, closed when it goes, on every way out.
#pragma once

#include <unistd.h>

namespace kbc::link {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  // Negative when the call that made it failed.
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace kbc::link
