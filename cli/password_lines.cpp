#include "cli/password_lines.h"

namespace kbc::cli {

PasswordLines::PasswordLines(std::size_t wanted) : wanted_(wanted) {
  line_.reserve(kLongestPasswordLine);
  lines_.reserve(wanted);
}

PasswordLines::State PasswordLines::take(std::string_view piece) {
  for (const char c : piece) {
    if (state_ != State::wanting) {
      break;
    }
    if (c == '\n') {
      end_line();
    } else if (line_.size() == kLongestPasswordLine) {
      state_ = State::too_long;
    } else {
      line_.push_back(c);
      in_line_ = true;
    }
  }
  return state_;
}

std::vector<link::Secret> PasswordLines::finish() {
  if (state_ == State::wanting && in_line_) {
    end_line();
  }
  return std::move(lines_);
}

void PasswordLines::end_line() {
  std::string_view line = line_;
  if (line.ends_with('\r')) {
    line.remove_suffix(1);
  }
  lines_.emplace_back(line);
  link::wipe(line_);
  in_line_ = false;
  if (lines_.size() == wanted_) {
    state_ = State::complete;
  }
}

}  // namespace kbc::cli
