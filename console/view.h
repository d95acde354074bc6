// What the console needs of the window it runs in. The Qt main frame, the command-line tool and
// the tests each implement it. All text is UTF-8.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace kbc::console {

class PasswordDialog;

class View {
 public:
  virtual ~View() = default;

  virtual std::string field_text(int id) = 0;
  virtual void set_field_text(int id, std::string_view text) = 0;
  // The selected item's text of a drop-down list; empty when nothing is selected.
  virtual std::string selection_text(int id) = 0;
  // Empties the list and adds these items in order; nothing is selected afterwards.
  virtual void refill_list(int id, std::span<const std::string_view> items) = 0;
  // Limits a text field to this many GBK bytes.
  virtual void limit_field(int id, int gbk_bytes) = 0;
  virtual void show_control(int id, bool visible) = 0;

  // One line in the information pane.
  virtual void append_line(std::string_view text) = 0;
  // A modal Yes/No question with the exclamation icon; true for Yes.
  virtual bool ask_yes_no(std::string_view text, std::string_view caption) = 0;
  // A modal message box with an OK button, the exclamation icon and the application's title.
  virtual void show_message(std::string_view text) = 0;

  // Runs the password-change dialog modally until it closes.
  virtual void run_password_dialog(PasswordDialog& dialog) = 0;
};

}  // namespace kbc::console
