#include "cli/output.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace kbc::cli {
namespace {

// write(2) with the SIGPIPE of a closed pipe held back and taken, so that the write fails with
// EPIPE instead of ending the process; a SIGPIPE from elsewhere still acts as it would.
ssize_t write_without_sigpipe(int fd, const char* bytes, std::size_t size) {
  sigset_t pipe_only, previous, pending;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_only, &previous);
  sigpending(&pending);
  const bool was_pending = sigismember(&pending, SIGPIPE) == 1;
  const ssize_t n = ::write(fd, bytes, size);
  const int error = errno;
  if (n < 0 && error == EPIPE && !was_pending) {
    const timespec now{};
    sigtimedwait(&pipe_only, nullptr, &now);
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  errno = error;
  return n;
}

}  // namespace

bool FdOutput::drain() {
  const char* next = pbase();
  while (next < pptr() && error_ == 0) {
    const ssize_t n = write_without_sigpipe(fd_, next, static_cast<std::size_t>(pptr() - next));
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      error_ = n < 0 ? errno : EIO;
    } else {
      next += n;
    }
  }
  // What could not be written is dropped: the stream has failed by then.
  setp(buffer_.data(), buffer_.data() + buffer_.size());
  return error_ == 0;
}

FdOutput::int_type FdOutput::overflow(int_type c) {
  if (!drain()) {
    return traits_type::eof();
  }
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
  }
  return traits_type::not_eof(c);
}

int FdOutput::sync() {
  return drain() ? 0 : -1;
}

}  // namespace kbc::cli
