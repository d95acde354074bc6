// A window that records what the console does to it, a fixed clock and the simulated recorder,
// with the checks every console test makes once the handler has returned.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "console/audit.h"
#include "console/console.h"
#include "console/control_ids.h"
#include "link/gbk.h"
#include "link/trace.h"
#include "sim/sim_bus.h"

namespace kbc::console::testing {

inline constexpr std::string_view kAdmin = "888888";   // the recorder's administrator password
inline constexpr std::string_view kNormal = "000000";  // and its normal password
inline constexpr std::string_view kWrong = "123456";

using Lines = std::vector<std::string>;

class FakeView final : public View {
 public:
  std::map<int, std::string> fields, selections;
  std::map<int, std::vector<std::string>> lists;
  std::map<int, int> limits;
  std::map<int, bool> visible;
  Lines lines, messages, questions;  // questions: "caption|text"
  std::deque<bool> answers;          // for ask_yes_no in order; No once they run out
  std::function<void()> while_asking;
  std::function<void(PasswordDialog&)> on_dialog;  // the operator at the password dialog

  std::string field_text(int id) override { return fields[id]; }
  void set_field_text(int id, std::string_view text) override { fields[id] = text; }
  std::string selection_text(int id) override { return selections[id]; }
  void refill_list(int id, std::span<const std::string_view> items) override {
    lists[id].assign(items.begin(), items.end());
  }
  void limit_field(int id, int gbk_bytes) override { limits[id] = gbk_bytes; }
  void show_control(int id, bool shown) override { visible[id] = shown; }
  void append_line(std::string_view text) override { lines.emplace_back(text); }
  bool ask_yes_no(std::string_view text, std::string_view caption) override {
    questions.push_back(std::string(caption) + "|" + std::string(text));
    if (while_asking) {
      while_asking();
    }
    const bool yes = !answers.empty() && answers.front();
    if (!answers.empty()) {
      answers.pop_front();
    }
    return yes;
  }
  void show_message(std::string_view text) override { messages.emplace_back(text); }
  void run_password_dialog(PasswordDialog& dialog) override {
    if (on_dialog) {
      on_dialog(dialog);
    }
  }
};

// An audit trail that keeps its entries, or takes none while closed.
class FakeTrail final : public AuditTrail {
 public:
  bool open = true;
  int asked = 0;
  std::vector<AuditEntry> entries;

  bool writable() override {
    ++asked;
    return open;
  }
  void write(const AuditEntry& entry) override { entries.push_back(entry); }
};

class FixedClock final : public Clock {
 public:
  link::LocalTime time{2024, 3, 5, 7, 8, 9};
  link::LocalTime now() override { return time; }
};

inline std::string gbk(std::string_view utf8) {
  return link::GbkText::from_utf8(utf8)->bytes();
}

// The buttons that run the handler sequence, as the operator meets them.
struct Button {
  int id;
  bool full_form;                 // else: the empty field is a length error too
  std::string_view gate_letters;  // the checks before the button's own command
  int list = 0;
  std::string_view nothing_chosen = {};
};

inline const Button kButtons[] = {
    {1016, true, "-3"},
    {1052, true, "3"},
    {1026, true, "-3", 1060, "请选择分辨率!"},
    {1076, false, "3", 1075, "请选择分段时间设置!"},
    {1078, true, "3", 1077, "请选择分辨率!"},
    {1092, true, "3", 1093, "请选择屏幕亮度!"},
    {1095, true, "3", 1096, "请选择关屏时间!"},
    {1141, true, "3", 1140, "请选择红外!"},
    {1143, true, "3", 1142, "请选择语音!"},
    {1145, true, "3", 1148, "请选择移动侦测!"},
};

class ConsoleTest : public ::testing::Test {
 protected:
  ConsoleTest() : previous_trace_(link::set_trace_sink({})) {}
  ~ConsoleTest() override { link::set_trace_sink(previous_trace_); }

  void TearDown() override {
    // Every handler leaves the recorder closed, whichever way it went.
    EXPECT_EQ(bus.open_handles(), 0);
    int opened = 0, closed = 0;
    for (const sim::WireEvent& event : bus.wire()) {
      opened += event.kind == sim::WireEvent::Kind::open && event.result == 0;
      closed += event.kind == sim::WireEvent::Kind::close;
    }
    EXPECT_EQ(opened, closed);
  }

  // Clears what earlier presses left, then presses `id` with this password in the field.
  bool press(int id, std::string_view password) {
    view.lines.clear();
    bus.clear_wire();
    view.fields[idc::password] = password;
    return console.on_command(id);
  }

  link::TraceSink previous_trace_;
  sim::SimBus bus;
  sim::SimRecorder& recorder = bus.add_recorder();
  FakeView view;
  FixedClock clock;
  Console console{view, bus.link(), clock};
};

}  // namespace kbc::console::testing
