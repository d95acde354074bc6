#include "cli/terminal_view.h"

#include "console/control_ids.h"
#include "console/messages.h"

namespace kbc::cli {
namespace {

// The change dialog as a terminal has it: its fields are typed in one go and its message boxes
// are printed like the console's.
class DialogWindow final : public console::DialogView {
 public:
  explicit DialogWindow(TerminalView& owner) : owner_(owner) {}

  const std::string& title() const { return title_; }

  // One change notification per field, as if the text had been typed at once.
  void type(console::PasswordDialog& dialog, int id, const link::Secret& text) {
    fields_[id] = text;
    dialog.on_field_changed(*this, id);
  }

  std::string field_text(int id) override { return std::string(fields_[id].view()); }
  void set_field_text(int id, std::string_view text) override { fields_[id] = link::Secret(text); }
  // Passwords are not cut to the limit: a longer one is refused by the length check instead of
  // being set shorter than typed.
  void limit_field(int, int) override {}
  // No window, so nothing to show, hide or shrink.
  void show_control(int, bool) override {}
  void halve_width() override {}
  void set_title(std::string_view title) override { title_ = title; }
  void show_message(std::string_view text, console::MessageIcon) override { owner_.print(text); }
  // Every attempt ends the dialog anyway.
  void accept() override {}

 private:
  TerminalView& owner_;
  std::map<int, link::Secret> fields_;
  std::string title_ = std::string(console::msg::dialog_title);
};

}  // namespace

TerminalView::TerminalView(std::ostream& out, std::ostream& err, const Charset& charset, Ask ask,
                           DialogEntry dialog_entry)
    : out_(out),
      err_(err),
      charset_(charset),
      ask_(std::move(ask)),
      dialog_entry_(std::move(dialog_entry)) {}

void TerminalView::select(int list, std::string_view item) {
  selections_[list] = item;
}

std::optional<int> TerminalView::limit(int id) const {
  const auto found = limits_.find(id);
  return found == limits_.end() ? std::nullopt : std::optional(found->second);
}

void TerminalView::hold() {
  held_.emplace();
}

std::vector<std::string> TerminalView::release() {
  std::vector<std::string> lines = std::move(held_).value_or(std::vector<std::string>{});
  held_.reset();
  return lines;
}

void TerminalView::print(std::string_view text) {
  if (held_) {
    held_->emplace_back(text);
  } else {
    out_ << charset_.from_utf8(text) << '\n' << std::flush;
  }
}

std::string TerminalView::field_text(int id) {
  return std::string(fields_[id].view());
}

void TerminalView::set_field_text(int id, std::string_view text) {
  fields_[id] = link::Secret(text);
}

std::string TerminalView::selection_text(int id) {
  return selections_[id];
}

void TerminalView::refill_list(int id, std::span<const std::string_view>) {
  // The items themselves are the console's tables; a refill only drops the selection.
  selections_.erase(id);
}

void TerminalView::limit_field(int id, int gbk_bytes) {
  limits_[id] = gbk_bytes;
}

void TerminalView::show_control(int, bool) {
  // A terminal shows every command all the time.
}

void TerminalView::append_line(std::string_view text) {
  // Not a recorder's report but a matter of choosing one: it goes with the list of them.
  if (text == console::msg::choose_recorder) {
    err_ << charset_.from_utf8(text) << '\n' << std::flush;
    return;
  }
  print(text);
}

bool TerminalView::ask_yes_no(std::string_view text, std::string_view caption) {
  return ask_(text, caption);
}

void TerminalView::show_message(std::string_view text) {
  print(text);
}

void TerminalView::run_password_dialog(console::PasswordDialog& dialog) {
  DialogWindow window(*this);
  dialog.initialise(window);
  const std::optional<console::PasswordEntry> entry = dialog_entry_(window.title());
  if (!entry) {
    return;  // as 取消: nothing sent
  }
  window.type(dialog, idc::old_password, entry->old_password);
  window.type(dialog, idc::new_password, entry->new_password);
  window.type(dialog, idc::confirm_password, entry->confirmation);
  // One attempt: whatever it reported, the dialog closes after it.
  dialog.on_command(window, dialog.confirm_button());
}

}  // namespace kbc::cli
