// The operator's terminal, apart from standard input and output so that both can be redirected:
// password prompts without echo and the Yes/No questions. Text in and out is UTF-8, but for a
// secret, which comes as typed.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "cli/charset.h"

namespace kbc::cli {

class Terminal {
 public:
  virtual ~Terminal() = default;
  // Shows the prompt and reads one line without echo, in the terminal's character set, so that
  // whoever holds it converts it into a link::Secret; nullopt at end of input.
  virtual std::optional<std::string> read_secret(std::string_view prompt) = 0;
  // Shows the question and reads one line; true only for a yes.
  virtual bool confirm(std::string_view question) = 0;
  // Shows one line that is no report, such as a dialog's title.
  virtual void note(std::string_view text) = 0;
};

// True for "y", "yes" (any case) and "是", blanks around them allowed.
bool is_yes(std::string_view answer);

class TtyTerminal final : public Terminal {
 public:
  // The process's controlling terminal (/dev/tty); nullptr when it has none.
  static std::unique_ptr<TtyTerminal> open_controlling(const Charset& charset);
  // Takes over an open terminal descriptor that shows and types `charset`.
  explicit TtyTerminal(int fd, Charset charset = Charset::utf8());
  ~TtyTerminal() override;
  TtyTerminal(const TtyTerminal&) = delete;
  TtyTerminal& operator=(const TtyTerminal&) = delete;

  std::optional<std::string> read_secret(std::string_view prompt) override;
  bool confirm(std::string_view question) override;
  void note(std::string_view text) override;

 private:
  void write(std::string_view text);
  std::optional<std::string> read_line();

  int fd_;
  Charset charset_;
};

}  // namespace kbc::cli
