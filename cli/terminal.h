// The operator's terminal, apart from standard input and output so that both can be redirected:
// password prompts without echo and the Yes/No questions.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kbc::cli {

class Terminal {
 public:
  virtual ~Terminal() = default;
  // Shows the prompt and reads one line without echo; nullopt at end of input.
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
  static std::unique_ptr<TtyTerminal> open_controlling();
  // Takes over an open terminal descriptor.
  explicit TtyTerminal(int fd);
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
};

}  // namespace kbc::cli
