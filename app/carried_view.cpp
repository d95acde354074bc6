#include "app/carried_view.h"

#include "link/secret.h"

namespace kbc::app {
namespace {

// A field may hold a password: the window's string is wiped once its text is over here, and the
// text reaches the console in one string, with no copy left on the way.
std::string carried_field_text(ConsoleThread& thread, const std::function<std::string()>& read) {
  std::string text;
  thread.on_ui([&] {
    const link::Secret read_text = read();
    text.reserve(read_text.size());
    text.assign(read_text.view());
  });
  return text;
}

}  // namespace

std::string CarriedView::field_text(int id) {
  return carried_field_text(thread_, [&] { return window_.field_text(id); });
}
void CarriedView::set_field_text(int id, std::string_view text) {
  thread_.carry([&] { window_.set_field_text(id, text); });
}
std::string CarriedView::selection_text(int id) {
  return thread_.carry([&] { return window_.selection_text(id); });
}
void CarriedView::refill_list(int id, std::span<const std::string_view> items) {
  thread_.carry([&] { window_.refill_list(id, items); });
}
void CarriedView::limit_field(int id, int gbk_bytes) {
  thread_.carry([&] { window_.limit_field(id, gbk_bytes); });
}
void CarriedView::show_control(int id, bool visible) {
  thread_.carry([&] { window_.show_control(id, visible); });
}
void CarriedView::append_line(std::string_view text) {
  thread_.carry([&] { window_.append_line(text); });
}
bool CarriedView::ask_yes_no(std::string_view text, std::string_view caption) {
  return thread_.carry([&] { return window_.ask_yes_no(text, caption); });
}
void CarriedView::show_message(std::string_view text) {
  thread_.carry([&] { window_.show_message(text); });
}
void CarriedView::run_password_dialog(console::PasswordDialog& dialog) {
  thread_.on_ui_serving([&] { window_.run_password_dialog(dialog); });
}

std::string CarriedDialogView::field_text(int id) {
  return carried_field_text(thread_, [&] { return dialog_.field_text(id); });
}
void CarriedDialogView::set_field_text(int id, std::string_view text) {
  thread_.carry([&] { dialog_.set_field_text(id, text); });
}
void CarriedDialogView::limit_field(int id, int characters) {
  thread_.carry([&] { dialog_.limit_field(id, characters); });
}
void CarriedDialogView::show_control(int id, bool visible) {
  thread_.carry([&] { dialog_.show_control(id, visible); });
}
void CarriedDialogView::set_title(std::string_view title) {
  thread_.carry([&] { dialog_.set_title(title); });
}
void CarriedDialogView::halve_width() {
  thread_.carry([&] { dialog_.halve_width(); });
}
void CarriedDialogView::show_message(std::string_view text, console::MessageIcon icon) {
  thread_.carry([&] { dialog_.show_message(text, icon); });
}
void CarriedDialogView::accept() {
  thread_.carry([&] { dialog_.accept(); });
}

}  // namespace kbc::app
