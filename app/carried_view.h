// The console's views as the console thread sees them: every call is carried to the
// user-interface thread, runs there on the window's own view and is waited for.
#pragma once

#include "app/console_thread.h"
#include "console/password_dialog.h"
#include "console/view.h"

namespace kbc::app {

class CarriedView final : public console::View {
 public:
  CarriedView(ConsoleThread& thread, console::View& window) : thread_(thread), window_(window) {}

  std::string field_text(int id) override;
  void set_field_text(int id, std::string_view text) override;
  std::string selection_text(int id) override;
  void refill_list(int id, std::span<const std::string_view> items) override;
  void limit_field(int id, int gbk_bytes) override;
  void show_control(int id, bool visible) override;
  void append_line(std::string_view text) override;
  bool ask_yes_no(std::string_view text, std::string_view caption) override;
  void show_message(std::string_view text) override;
  // The dialog's own attempts run on the console thread while it is open.
  void run_password_dialog(console::PasswordDialog& dialog) override;

 private:
  ConsoleThread& thread_;
  console::View& window_;
};

class CarriedDialogView final : public console::DialogView {
 public:
  CarriedDialogView(ConsoleThread& thread, console::DialogView& dialog)
      : thread_(thread), dialog_(dialog) {}

  std::string field_text(int id) override;
  void set_field_text(int id, std::string_view text) override;
  void limit_field(int id, int characters) override;
  void show_control(int id, bool visible) override;
  void set_title(std::string_view title) override;
  void halve_width() override;
  void show_message(std::string_view text, console::MessageIcon icon) override;
  void accept() override;

 private:
  ConsoleThread& thread_;
  console::DialogView& dialog_;
};

}  // namespace kbc::app
