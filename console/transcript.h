// The window as the console's handlers see it: every call goes on to it unchanged, and between
// start() and finish() the lines and messages it is asked to show are kept too, for the
// operation's audit entry.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "console/view.h"

namespace kbc::console {

class Transcript final : public View {
 public:
  explicit Transcript(View& window) : window_(window) {}

  void start() {
    kept_.clear();
    keeping_ = true;
  }
  // What was shown since start(), in order.
  std::vector<std::string> finish() {
    keeping_ = false;
    return std::move(kept_);
  }
  // A line the operator was shown elsewhere (the password dialog's messages).
  void keep(std::string_view text) {
    if (keeping_) {
      kept_.emplace_back(text);
    }
  }

  std::string field_text(int id) override { return window_.field_text(id); }
  void set_field_text(int id, std::string_view text) override { window_.set_field_text(id, text); }
  std::string selection_text(int id) override { return window_.selection_text(id); }
  void refill_list(int id, std::span<const std::string_view> items) override {
    window_.refill_list(id, items);
  }
  void limit_field(int id, int gbk_bytes) override { window_.limit_field(id, gbk_bytes); }
  void show_control(int id, bool visible) override { window_.show_control(id, visible); }
  void append_line(std::string_view text) override {
    keep(text);
    window_.append_line(text);
  }
  bool ask_yes_no(std::string_view text, std::string_view caption) override {
    return window_.ask_yes_no(text, caption);
  }
  void show_message(std::string_view text) override {
    keep(text);
    window_.show_message(text);
  }
  void run_password_dialog(PasswordDialog& dialog) override { window_.run_password_dialog(dialog); }

 private:
  View& window_;
  std::vector<std::string> kept_;
  bool keeping_ = false;
};

}  // namespace kbc::console
