#include "cli/terminal.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

#include "link/secret.h"

namespace kbc::cli {
namespace {

constexpr std::size_t kLongestLine = 4096;

// Every signal whose default action ends the process, apart from the real-time ones.
constexpr int kEnding[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS,    SIGFPE,  SIGUSR1, SIGSEGV,
    SIGUSR2,   SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGSYS,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};
// Every signal that stops it and can be caught.
constexpr int kStopping[] = {SIGTSTP, SIGTTIN, SIGTTOU};

// A signal during a hidden prompt must not leave the operator's shell without echo, and a prompt
// continued after Ctrl+Z must hide again. Only one prompt runs at a time; the handlers read these.
int g_hiddenFd = -1;
termios g_savedModes{};
termios g_hiddenModes{};
const char* g_prompt = nullptr;
std::size_t g_promptSize = 0;

void set_handler(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  // Nothing else runs in between, so that the terminal's modes are set by one handler at a time;
  // SIGTTOU blocked also lets tcsetattr() through from a background process group.
  sigfillset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
}

void raise_by_default(int signal) {
  set_handler(signal, SIG_DFL);
  sigset_t only{};
  sigemptyset(&only);
  sigaddset(&only, signal);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
}

extern "C" void on_ending_signal(int signal) {
  tcsetattr(g_hiddenFd, TCSANOW, &g_savedModes);
  raise_by_default(signal);
}

extern "C" void on_stopping_signal(int signal) {
  const int saved_errno = errno;
  tcsetattr(g_hiddenFd, TCSANOW, &g_savedModes);
  raise_by_default(signal);
  // Continued: SIGCONT's handler hides the prompt again once this one returns.
  set_handler(signal, on_stopping_signal);
  errno = saved_errno;
}

extern "C" void on_continued(int) {
  const int saved_errno = errno;
  tcsetattr(g_hiddenFd, TCSANOW, &g_hiddenModes);
  // The shell has written over the line since: the prompt again, as it was.
  if (::write(g_hiddenFd, g_prompt, g_promptSize) < 0) {
    // Nothing to be done in a handler; the prompt still reads.
  }
  errno = saved_errno;
}

// Blocks every signal for its lifetime, so that handlers and the modes change together.
class AllBlocked {
 public:
  AllBlocked() {
    sigset_t all{};
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &previous_);
  }
  ~AllBlocked() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  AllBlocked(const AllBlocked&) = delete;
  AllBlocked& operator=(const AllBlocked&) = delete;

 private:
  sigset_t previous_{};
};

// Echo off for one prompt; restored on every way out, a signal that ends or stops the process
// included. Signals the process ignores stay ignored.
class EchoOff {
 public:
  EchoOff(int fd, std::string_view prompt) : fd_(fd) {
    if (tcgetattr(fd_, &saved_) != 0) {
      return;
    }
    const AllBlocked blocked;
    g_savedModes = saved_;
    g_hiddenModes = saved_;
    g_hiddenModes.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    g_hiddenModes.c_lflag |= ECHONL;
    g_prompt = prompt.data();
    g_promptSize = prompt.size();
    g_hiddenFd = fd_;
    for (int signal : kEnding) {
      take_over(signal, on_ending_signal);
    }
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) {
      take_over(signal, on_ending_signal);
    }
    for (int signal : kStopping) {
      take_over(signal, on_stopping_signal);
    }
    take_over(SIGCONT, on_continued);
    active_ = tcsetattr(fd_, TCSANOW, &g_hiddenModes) == 0;
  }
  ~EchoOff() {
    if (g_hiddenFd != fd_) {
      return;
    }
    const AllBlocked blocked;
    tcsetattr(fd_, TCSANOW, &saved_);
    for (const auto& [signal, action] : previous_) {
      sigaction(signal, &action, nullptr);
    }
    g_hiddenFd = -1;
    g_prompt = nullptr;
    g_promptSize = 0;
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

  // False when the terminal would not turn echo off; the caller then does not ask.
  bool active() const { return active_; }

 private:
  void take_over(int signal, void (*handler)(int)) {
    struct sigaction previous {};
    if (sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) {
      return;
    }
    previous_.emplace_back(signal, previous);
    set_handler(signal, handler);
  }

  int fd_;
  termios saved_{};
  std::vector<std::pair<int, struct sigaction>> previous_;
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

std::unique_ptr<TtyTerminal> TtyTerminal::open_controlling(const Charset& charset) {
  const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    return nullptr;
  }
  return std::make_unique<TtyTerminal>(fd, charset);
}

TtyTerminal::TtyTerminal(int fd, Charset charset) : fd_(fd), charset_(std::move(charset)) {}

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
  // Room for the longest line first, so that a secret never outgrows a buffer left unwiped.
  std::string line;
  line.reserve(kLongestLine);
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
  link::wipe(std::span(&c, 1));
  if (!read_any) {
    return std::nullopt;
  }
  if (line.ends_with('\r')) {
    line.pop_back();
  }
  return line;
}

std::optional<std::string> TtyTerminal::read_secret(std::string_view prompt) {
  const std::string shown = charset_.from_utf8(prompt);
  const EchoOff echo_off(fd_, shown);
  if (!echo_off.active()) {
    return std::nullopt;
  }
  // The prompt follows the switch, so nothing typed after it can be echoed.
  write(shown);
  return read_line();
}

bool TtyTerminal::confirm(std::string_view question) {
  // One write, so that the echo of an answer typed ahead cannot land inside the question.
  write(charset_.from_utf8(question) + " [y/N] ");
  const std::optional<std::string> answer = read_line();
  const std::optional<std::string> utf8 = answer ? charset_.to_utf8(*answer) : std::nullopt;
  return utf8 && is_yes(*utf8);
}

void TtyTerminal::note(std::string_view text) {
  write(charset_.from_utf8(text));
  write("\n");
}

}  // namespace kbc::cli
