#include "kbcctl_pty.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>

extern char** environ;

namespace kbc::cli::testing {
namespace {

constexpr int kSilenceMs = 5000;

bool readable(int fd) {
  pollfd ready{fd, POLLIN, 0};
  return poll(&ready, 1, kSilenceMs) == 1;
}

// The shell's part after fork(): only calls that are safe there.
[[noreturn]] void run_shell(const char* program, char* const* argv, char* const* envp,
                            int statuses) {
  signal(SIGTTOU, SIG_IGN);  // to hand the terminal over from here
  const pid_t child = fork();
  if (child == 0) {
    setpgid(0, 0);
    tcsetpgrp(STDIN_FILENO, getpid());
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
      signal(signal_number, SIG_DFL);
    }
    const rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    execve(program, argv, envp);
    _exit(127);
  }
  setpgid(child, child);
  tcsetpgrp(STDIN_FILENO, child);
  if (write(statuses, &child, sizeof child) != sizeof child) {
    _exit(1);
  }
  for (;;) {
    int status = 0;
    const pid_t waited = waitpid(child, &status, WUNTRACED | WCONTINUED);
    if (waited < 0 && errno == EINTR) {
      continue;
    }
    if (waited < 0 || write(statuses, &status, sizeof status) != sizeof status) {
      _exit(1);
    }
    if (WIFEXITED(status) || WIFSIGNALED(status)) {
      _exit(0);
    }
  }
}

}  // namespace

KbcctlOnPty::KbcctlOnPty(const std::vector<std::string>& args,
                         const std::vector<std::string>& env) {
  start(args, env);
}

void KbcctlOnPty::start(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  std::vector<std::string> texts{KBC_KBCCTL};
  texts.insert(texts.end(), args.begin(), args.end());
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (!std::string_view(*entry).starts_with("KBC_PASSWORD=")) {
      environment.emplace_back(*entry);
    }
  }
  environment.insert(environment.end(), env.begin(), env.end());
  std::vector<char*> argv, envp;
  for (std::string& text : texts) {
    argv.push_back(text.data());
  }
  argv.push_back(nullptr);
  for (std::string& text : environment) {
    envp.push_back(text.data());
  }
  envp.push_back(nullptr);

  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
  shell_ = forkpty(&master_, nullptr, nullptr, nullptr);
  if (shell_ == 0) {
    run_shell(argv[0], argv.data(), envp.data(), ends[1]);
  }
  ::close(ends[1]);
  statuses_ = ends[0];
  ASSERT_GT(shell_, 0) << std::strerror(errno);
  slave_ = ::open(ptsname(master_), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(slave_, 0);
  ASSERT_TRUE(readable(statuses_));
  ASSERT_EQ(::read(statuses_, &pid_, sizeof pid_), static_cast<ssize_t>(sizeof pid_));
}

KbcctlOnPty::~KbcctlOnPty() {
  if (pid_ > 0 && !ended_) {
    kill(pid_, SIGKILL);
    kill(pid_, SIGCONT);
  }
  if (shell_ > 0) {
    waitpid(shell_, nullptr, 0);
  }
  for (int fd : {master_, slave_, statuses_}) {
    if (fd >= 0) {
      ::close(fd);
    }
  }
}

void KbcctlOnPty::type(std::string_view text) {
  ASSERT_EQ(::write(master_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

std::string KbcctlOnPty::shown_until(std::string_view end) {
  std::string shown;
  while (!shown.ends_with(end) && readable(master_)) {
    char c = 0;
    if (::read(master_, &c, 1) != 1) {
      break;
    }
    shown.push_back(c);
  }
  return shown;
}

bool KbcctlOnPty::echoing() const {
  termios modes{};
  tcgetattr(slave_, &modes);
  return (modes.c_lflag & ECHO) != 0;
}

std::optional<int> KbcctlOnPty::next_status() {
  int status = 0;
  if (!readable(statuses_) ||
      ::read(statuses_, &status, sizeof status) != static_cast<ssize_t>(sizeof status)) {
    return std::nullopt;
  }
  ended_ = WIFEXITED(status) || WIFSIGNALED(status);
  return status;
}

}  // namespace kbc::cli::testing
