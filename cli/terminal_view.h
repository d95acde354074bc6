// The console's window on a terminal: the fields and list selections hold what the command line
// gave, report lines and message boxes are printed one per line, and the questions and the
// password-change dialog are answered through callbacks. Its fields are link::Secrets, since one
// holds the password; what it prints goes out in the terminal's character set.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/charset.h"
#include "console/password_dialog.h"
#include "console/view.h"
#include "link/secret.h"

namespace kbc::cli {

class TerminalView final : public console::View {
 public:
  using Ask = std::function<bool(std::string_view text, std::string_view caption)>;
  // The change dialog's three fields, asked for under its title; nullopt cancels the dialog.
  using DialogEntry = std::function<std::optional<console::PasswordEntry>(std::string_view title)>;

  // Reports go to `out`; the request to choose one of several recorders goes to `err`, where
  // kbcctl lists them.
  TerminalView(std::ostream& out, std::ostream& err, const Charset& charset, Ask ask,
               DialogEntry dialog_entry);

  // The item picked in a drop-down list.
  void select(int list, std::string_view item);
  // The GBK byte limit the console set on a field; nullopt while it set none.
  std::optional<int> limit(int id) const;

  // Keeps report lines and messages back instead of printing them, until release() hands them
  // over in order.
  void hold();
  std::vector<std::string> release();
  // Prints a line as a report would be.
  void print(std::string_view text);

  std::string field_text(int id) override;
  void set_field_text(int id, std::string_view text) override;
  std::string selection_text(int id) override;
  void refill_list(int id, std::span<const std::string_view> items) override;
  void limit_field(int id, int gbk_bytes) override;
  void show_control(int id, bool visible) override;
  void append_line(std::string_view text) override;
  bool ask_yes_no(std::string_view text, std::string_view caption) override;
  void show_message(std::string_view text) override;
  void run_password_dialog(console::PasswordDialog& dialog) override;

 private:
  std::ostream& out_;
  std::ostream& err_;
  const Charset& charset_;
  Ask ask_;
  DialogEntry dialog_entry_;
  std::map<int, link::Secret> fields_;
  std::map<int, std::string> selections_;
  std::map<int, int> limits_;
  std::optional<std::vector<std::string>> held_;
};

}  // namespace kbc::cli
