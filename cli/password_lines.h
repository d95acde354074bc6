// The first lines of a password source, taken as they come in pieces, with a bound on each line
// so that no source (/dev/zero, a huge file without a line feed) can make kbcctl grow.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "link/secret.h"

namespace kbc::cli {

// Bytes of one password line, its line feed not counted; far more than any password.
inline constexpr std::size_t kLongestPasswordLine = 4096;

class PasswordLines {
 public:
  enum class State {
    wanting,   // give it more, or finish() at the end of the input
    complete,  // it has all its lines; what follows is not looked at
    too_long,  // line number line_count() + 1 grew past kLongestPasswordLine
  };

  explicit PasswordLines(std::size_t wanted);
  ~PasswordLines() { link::wipe(line_); }
  PasswordLines(const PasswordLines&) = delete;
  PasswordLines& operator=(const PasswordLines&) = delete;

  State take(std::string_view piece);
  // The lines, a last one without its line feed included, each without a "\r" before the feed.
  std::vector<link::Secret> finish();

  std::size_t line_count() const { return lines_.size(); }
  State state() const { return state_; }

 private:
  void end_line();

  std::size_t wanted_;
  State state_ = State::wanting;
  std::vector<link::Secret> lines_;
  std::string line_;      // the line coming in; its buffer is never outgrown
  bool in_line_ = false;  // bytes of a line not yet ended came
};

}  // namespace kbc::cli
