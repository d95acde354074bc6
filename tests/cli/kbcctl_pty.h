// The real kbcctl in the foreground of a pseudo-terminal of its own, started by a small
// job-control shell (a forked child of the test), so that Ctrl+Z and stop signals stop it as they
// would under a real shell. The test types on the master side and reads what the terminal shows.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kbc::cli::testing {

class KbcctlOnPty {
 public:
  // `env` is added to the test's own environment, without its KBC_PASSWORD.
  KbcctlOnPty(const std::vector<std::string>& args, const std::vector<std::string>& env);
  ~KbcctlOnPty();
  KbcctlOnPty(const KbcctlOnPty&) = delete;
  KbcctlOnPty& operator=(const KbcctlOnPty&) = delete;

  pid_t pid() const { return pid_; }
  void type(std::string_view text);
  // What the terminal showed, up to and including `end`, or all it showed until it kept silent
  // for five seconds (only a failing test waits that long).
  std::string shown_until(std::string_view end);
  // The terminal's ECHO flag now.
  bool echoing() const;
  // kbcctl's next wait status (stopped, continued, ended) as its shell saw it; nullopt when
  // none came in five seconds.
  std::optional<int> next_status();

 private:
  // Apart from the constructor, so that it can stop at a failed assertion.
  void start(const std::vector<std::string>& args, const std::vector<std::string>& env);

  int master_ = -1;
  int slave_ = -1;  // the test's own, to read the modes
  int statuses_ = -1;
  pid_t shell_ = -1;
  pid_t pid_ = -1;
  bool ended_ = false;
};

}  // namespace kbc::cli::testing
