#include "cli/terminal.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace kbc::cli {
namespace {

constexpr std::size_t kLongestLine = 4096;
constexpr int kRestoredSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// A signal during a hidden prompt must not leave the operator's shell without echo. Only one
// prompt runs at a time.
int g_hiddenFd = -1;
termios g_savedModes{};

extern "C" void restore_and_reraise(int signal) {
  if (g_hiddenFd >= 0) {
    tcsetattr(g_hiddenFd, TCSANOW, &g_savedModes);
  }
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

// Echo off for one prompt; restored on every way out, a fatal signal included.
class EchoOff {
 public:
  explicit EchoOff(int fd) : fd_(fd) {
    if (tcgetattr(fd_, &saved_) != 0) {
      return;
    }
    g_savedModes = saved_;
    g_hiddenFd = fd_;
    struct sigaction action {};
    action.sa_handler = restore_and_reraise;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(kRestoredSignals); ++i) {
      sigaction(kRestoredSignals[i], &action, &previous_[i]);
    }
    termios hidden = saved_;
    hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    hidden.c_lflag |= ECHONL;
    active_ = tcsetattr(fd_, TCSANOW, &hidden) == 0;
  }
  ~EchoOff() {
    if (g_hiddenFd != fd_) {
      return;
    }
    tcsetattr(fd_, TCSANOW, &saved_);
    g_hiddenFd = -1;
    for (std::size_t i = 0; i < std::size(kRestoredSignals); ++i) {
      sigaction(kRestoredSignals[i], &previous_[i], nullptr);
    }
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

  // False when the terminal would not turn echo off; the caller then does not ask.
  bool active() const { return active_; }

 private:
  int fd_;
  termios saved_{};
  struct sigaction previous_[std::size(kRestoredSignals)]{};
  bool active_ = false;
};

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

bool is_yes(std::string_view answer) {
  std::string lower(trimmed(answer));
  std::ranges::transform(lower, lower.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  });
  return lower == "y" || lower == "yes" || lower == "是";
}

std::unique_ptr<TtyTerminal> TtyTerminal::open_controlling() {
  const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    return nullptr;
  }
  return std::make_unique<TtyTerminal>(fd);
}

TtyTerminal::TtyTerminal(int fd) : fd_(fd) {}

TtyTerminal::~TtyTerminal() {
  ::close(fd_);
}

void TtyTerminal::write(std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd_, text.data(), text.size());
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return;
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

std::optional<std::string> TtyTerminal::read_line() {
  std::string line;
  bool read_any = false;
  char c = 0;
  for (;;) {
    const ssize_t n = ::read(fd_, &c, 1);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      break;
    }
    read_any = true;
    if (c == '\n') {
      break;
    }
    if (line.size() < kLongestLine) {
      line.push_back(c);
    }
  }
  if (!read_any) {
    return std::nullopt;
  }
  if (line.ends_with('\r')) {
    line.pop_back();
  }
  return line;
}

std::optional<std::string> TtyTerminal::read_secret(std::string_view prompt) {
  const EchoOff echo_off(fd_);
  if (!echo_off.active()) {
    return std::nullopt;
  }
  // The prompt follows the switch, so nothing typed after it can be echoed.
  write(prompt);
  return read_line();
}

bool TtyTerminal::confirm(std::string_view question) {
  write(question);
  write(" [y/N] ");
  const std::optional<std::string> answer = read_line();
  return answer && is_yes(*answer);
}

void TtyTerminal::note(std::string_view text) {
  write(text);
  write("\n");
}

}  // namespace kbc::cli
