#include "console/password_dialog.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include "console/messages.h"
#include "console_fixture.h"

namespace kbc::console::testing {
namespace {

class FakeDialogView final : public DialogView {
 public:
  std::map<int, std::string> fields;
  std::map<int, int> limits;
  std::map<int, bool> visible;
  std::string title = "修改密码";
  int halvings = 0;
  Lines messages;
  std::vector<MessageIcon> icons;
  bool accepted = false;

  void type(std::string_view old_text, std::string_view new_text, std::string_view confirmation) {
    fields[idc::old_password] = old_text;
    fields[idc::new_password] = new_text;
    fields[idc::confirm_password] = confirmation;
  }
  bool fields_empty() {
    return fields[idc::old_password].empty() && fields[idc::new_password].empty() &&
           fields[idc::confirm_password].empty();
  }

  std::string field_text(int id) override { return fields[id]; }
  void set_field_text(int id, std::string_view text) override { fields[id] = text; }
  void limit_field(int id, int characters) override { limits[id] = characters; }
  void show_control(int id, bool shown) override { visible[id] = shown; }
  void set_title(std::string_view text) override { title = text; }
  void halve_width() override { ++halvings; }
  void show_message(std::string_view text, MessageIcon icon) override {
    messages.emplace_back(text);
    icons.push_back(icon);
  }
  void accept() override { accepted = true; }
};

// The fixture's window, with the dialog run by the test while "修改密码" waits for it.
class DialogRunningView final : public View {
 public:
  explicit DialogRunningView(FakeView& inner) : inner_(inner) {}
  std::function<void(PasswordDialog&)> while_open;
  int dialogs = 0;

  std::string field_text(int id) override { return inner_.field_text(id); }
  void set_field_text(int id, std::string_view text) override { inner_.set_field_text(id, text); }
  std::string selection_text(int id) override { return inner_.selection_text(id); }
  void refill_list(int id, std::span<const std::string_view> items) override {
    inner_.refill_list(id, items);
  }
  void limit_field(int id, int gbk_bytes) override { inner_.limit_field(id, gbk_bytes); }
  void show_control(int id, bool shown) override { inner_.show_control(id, shown); }
  void append_line(std::string_view text) override { inner_.append_line(text); }
  bool ask_yes_no(std::string_view text, std::string_view caption) override {
    return inner_.ask_yes_no(text, caption);
  }
  void show_message(std::string_view text) override { inner_.show_message(text); }
  void run_password_dialog(PasswordDialog& dialog) override {
    ++dialogs;
    if (while_open) {
      while_open(dialog);
    }
  }

 private:
  FakeView& inner_;
};

// What tells the two roles' procedures apart.
struct RoleRow {
  PasswordRole role;
  int button;
  std::string_view own;      // the password the role changes
  std::string_view other;    // the one the new password must not equal
  std::string_view letters;  // own check, conflict check, set
};

const RoleRow kRoles[] = {
    {PasswordRole::super, 1102, kAdmin, kNormal, "3-_"},
    {PasswordRole::normal, 1159, kNormal, kAdmin, "-34"},
};

class PasswordDialogTest : public ConsoleTest {
 protected:
  void SetUp() override { g_passwordRole = 0; }

  // Opens the dialog in the role, as "修改密码" leaves it.
  PasswordDialog& open(PasswordRole role) {
    g_passwordRole = static_cast<int>(role);
    dialog.initialise(window);
    return dialog;
  }
  void confirm(int id) {
    bus.clear_wire();
    window.messages.clear();
    dialog.on_command(window, id);
  }
  std::string admin() { return recorder.state().admin_password; }
  std::string normal() { return recorder.state().normal_password; }

  FakeDialogView window;
  PasswordDialog dialog{bus.link()};
};

TEST_F(PasswordDialogTest, RoleDecisionOfTheChangeButton) {
  DialogRunningView frame(view);
  Console console_of_frame(frame, bus.link(), clock);
  const std::tuple<std::string_view, int, bool> rows[] = {
      {kNormal, 1, true},
      {kAdmin, 2, true},
      {kWrong, 0, false},
  };
  for (const auto& [password, role, opened] : rows) {
    SCOPED_TRACE(std::string(password));
    g_passwordRole = 2;  // whatever an earlier click left
    frame.dialogs = 0;
    view.lines.clear();
    bus.clear_wire();
    view.fields[idc::password] = password;
    frame.while_open = [&](PasswordDialog&) {
      // The role's session is over before the dialog comes up.
      EXPECT_EQ(bus.open_handles(), 0);
    };
    EXPECT_FALSE(console_of_frame.on_command(idc::change_password));
    EXPECT_EQ(recorder.letters(), "-3");
    EXPECT_EQ(g_passwordRole, role);
    EXPECT_EQ(frame.dialogs, opened ? 1 : 0);
    EXPECT_EQ(view.lines, opened ? Lines{} : Lines{"密码错误!"});
  }
}

TEST_F(PasswordDialogTest, RoleDecisionWithTheRecorderLost) {
  DialogRunningView frame(view);
  Console console_of_frame(frame, bus.link(), clock);
  // The normal password's own check decides; once it is lost, so is the role.
  const std::pair<int, int> rows[] = {{1, 0}, {2, 0}, {3, 1}, {4, 1}};
  for (const auto& [transfer, role] : rows) {
    SCOPED_TRACE(transfer);
    recorder.reconnect();
    recorder.unplug_at_transfer(transfer);
    frame.dialogs = 0;
    view.lines.clear();
    view.fields[idc::password] = kNormal;
    console_of_frame.on_command(idc::change_password);
    EXPECT_EQ(g_passwordRole, role);
    EXPECT_EQ(frame.dialogs, role);
    EXPECT_EQ(view.lines, role == 0 ? Lines{"密码错误!"} : Lines{});
    EXPECT_EQ(bus.open_handles(), 0);
  }
}

TEST_F(PasswordDialogTest, ChangeButtonStopsBeforeTheDialog) {
  DialogRunningView frame(view);
  Console console_of_frame(frame, bus.link(), clock);
  const std::pair<std::string_view, std::string_view> rows[] = {
      {"", "请输入密码!"},
      {"12345", "密码长度有误!"},
  };
  for (const auto& [password, report] : rows) {
    g_passwordRole = 1;
    view.lines.clear();
    view.fields[idc::password] = password;
    EXPECT_FALSE(console_of_frame.on_command(idc::change_password));
    EXPECT_EQ(view.lines, Lines{std::string(report)});
    // No decision was made, so the last one stands.
    EXPECT_EQ(g_passwordRole, 1);
  }
  recorder.unplug();
  view.lines.clear();
  view.fields[idc::password] = kAdmin;
  EXPECT_FALSE(console_of_frame.on_command(idc::change_password));
  EXPECT_EQ(view.lines, Lines{"重新连接!"});
  EXPECT_EQ(frame.dialogs, 0);
}

TEST_F(PasswordDialogTest, ChangeThroughTheConsoleWithEnter) {
  DialogRunningView frame(view);
  Console console_of_frame(frame, bus.link(), clock);
  frame.while_open = [&](PasswordDialog& opened) {
    opened.initialise(window);
    window.type(kAdmin, "abc123", "abc123");
    opened.on_command(window, idc::ok);
  };
  view.fields[idc::password] = kAdmin;
  EXPECT_TRUE(console_of_frame.on_command(idc::change_password));
  EXPECT_EQ(window.messages, Lines{"修改密码成功!"});
  EXPECT_TRUE(window.accepted);
  EXPECT_EQ(admin(), "abc123");

  // The settings bar still holds the old password.
  view.lines.clear();
  EXPECT_FALSE(console_of_frame.on_command(idc::erase));
  EXPECT_EQ(view.lines, Lines{"密码错误!"});
}

TEST_F(PasswordDialogTest, InitialisationPerRole) {
  open(PasswordRole::normal);
  EXPECT_EQ(window.title, "普通密码修改");
  EXPECT_EQ(window.visible, (std::map<int, bool>{{1102, false}, {1159, true}, {1161, false}}));
  EXPECT_EQ(window.halvings, 1);
  EXPECT_EQ(window.limits, (std::map<int, int>{{1021, 6}, {1022, 6}, {1023, 6}}));
  EXPECT_EQ(dialog.confirm_button(), 1159);

  FakeDialogView other;
  g_passwordRole = 2;
  PasswordDialog super_dialog(bus.link());
  super_dialog.initialise(other);
  EXPECT_EQ(other.title, "管理员密码修改");
  EXPECT_EQ(other.visible, (std::map<int, bool>{{1102, true}, {1159, false}, {1161, true}}));
  EXPECT_EQ(other.halvings, 0);
  EXPECT_EQ(super_dialog.role(), PasswordRole::super);
  EXPECT_EQ(super_dialog.confirm_button(), 1102);
}

TEST_F(PasswordDialogTest, FieldsTakeOnlyAsciiLettersAndDigits) {
  open(PasswordRole::super);
  const std::pair<std::string_view, bool> rows[] = {
      {"aZ09", true}, {"", true}, {"ab c", false}, {"密", false}, {"a-", false},
  };
  for (int id : {1021, 1022, 1023}) {
    for (const auto& [text, kept] : rows) {
      window.messages.clear();
      window.fields[id] = text;
      dialog.on_field_changed(window, id);
      EXPECT_EQ(window.fields[id], kept ? text : "");
      EXPECT_EQ(window.messages, kept ? Lines{} : Lines{"仅支持数字或大小写字母!"});
    }
  }
}

struct CheckRow {
  std::string_view old_text, new_text, confirmation;  // "<own>", "<other>": the role's passwords
  std::string_view report;
  std::size_t sent;  // how many of the role's three commands went out
};

TEST_F(PasswordDialogTest, ReportsInTheOrderOfTheChecks) {
  const CheckRow rows[] = {
      {"", "", "", "请输入旧密码!", 0},
      {"", "abc123", "abc123", "请输入旧密码!", 0},
      {"<own>", "", "", "请输入新密码!", 0},
      {"<own>", "", "abc123", "请输入新密码!", 0},
      {"<own>", "abc123", "", "请再次输入新密码!", 0},
      // The recorder judges the old password before the new one's length is looked at.
      {"999999", "ab", "ab", "密码错误或者重新连接!", 1},
      {"<other>", "abc123", "abc123", "密码错误或者重新连接!", 1},
      {"<own>", "ab", "ab", "新密码长度错误!", 1},
      {"<own>", "abc1234", "abc1234", "新密码长度错误!", 1},
      {"<own>", "abc123", "abc124", "新密码不一致!", 1},
      {"<own>", "abc123", "ABC123", "新密码不一致!", 1},
      {"<own>", "<other>", "<other>", "密码冲突，请使用其它密码!", 2},
  };
  for (const RoleRow& role : kRoles) {
    open(role.role);
    for (const CheckRow& row : rows) {
      const auto text = [&](std::string_view t) {
        return std::string(t == "<own>" ? role.own : t == "<other>" ? role.other : t);
      };
      SCOPED_TRACE(std::string(role.own) + " " + std::string(row.report));
      window.type(text(row.old_text), text(row.new_text), text(row.confirmation));
      confirm(role.button);
      EXPECT_EQ(window.messages, Lines{std::string(row.report)});
      EXPECT_EQ(window.icons.back(), MessageIcon::warning);
      EXPECT_EQ(recorder.letters(), role.letters.substr(0, row.sent));
      EXPECT_TRUE(window.fields_empty());
      EXPECT_FALSE(window.accepted);
      EXPECT_EQ(admin(), kAdmin);
      EXPECT_EQ(normal(), kNormal);
    }
  }
}

TEST_F(PasswordDialogTest, EachRoleChangesItsOwnPassword) {
  for (const RoleRow& role : kRoles) {
    FakeDialogView fresh;
    window = fresh;
    open(role.role);
    window.type(role.own, "Ab12cd", "Ab12cd");
    confirm(role.button);
    EXPECT_EQ(recorder.letters(), role.letters);
    EXPECT_EQ(window.messages, Lines{"修改密码成功!"});
    EXPECT_EQ(window.icons, std::vector{MessageIcon::information});
    EXPECT_TRUE(window.accepted);
    EXPECT_TRUE(dialog.changed());
    EXPECT_EQ(window.fields[idc::new_password], "Ab12cd");
    EXPECT_EQ(role.role == PasswordRole::super ? admin() : normal(), "Ab12cd");
    EXPECT_EQ(role.role == PasswordRole::super ? normal() : admin(), role.other);
    recorder.state().admin_password = kAdmin;
    recorder.state().normal_password = kNormal;
  }
}

TEST_F(PasswordDialogTest, EnterRunsTheRolesOwnConfirmConflictCheckIncluded) {
  for (const RoleRow& role : kRoles) {
    open(role.role);
    window.type(role.own, role.other, role.other);
    confirm(idc::ok);
    EXPECT_EQ(recorder.letters(), role.letters.substr(0, 2));
    EXPECT_EQ(window.messages, Lines{"密码冲突，请使用其它密码!"});
    EXPECT_EQ(admin(), kAdmin);
    EXPECT_EQ(normal(), kNormal);

    window.type(role.own, "Zz9999", "Zz9999");
    confirm(idc::ok);
    EXPECT_EQ(recorder.letters(), role.letters);
    EXPECT_EQ(window.messages, Lines{"修改密码成功!"});
    EXPECT_EQ(role.role == PasswordRole::super ? admin() : normal(), "Zz9999");
    recorder.state().admin_password = kAdmin;
    recorder.state().normal_password = kNormal;
  }
}

TEST_F(PasswordDialogTest, NoRecorderKeepsTheFields) {
  open(PasswordRole::super);
  recorder.unplug();
  window.type(kAdmin, "abc123", "abc123");
  confirm(1102);
  EXPECT_EQ(window.messages, Lines{"重新连接!"});
  EXPECT_EQ(window.fields[idc::old_password], kAdmin);
  EXPECT_EQ(window.fields[idc::confirm_password], "abc123");
  EXPECT_TRUE(recorder.payloads().empty());
}

TEST_F(PasswordDialogTest, ASecondRecorderWhileItIsOpenGetsNothingAndAChoiceIsAskedFor) {
  open(PasswordRole::super);
  bus.add_recorder();
  window.type(kAdmin, "abc123", "abc123");
  confirm(1102);
  EXPECT_EQ(window.messages, Lines{std::string(msg::choose_recorder)});
  EXPECT_EQ(window.fields[idc::old_password], kAdmin);
  EXPECT_TRUE(bus.payloads().empty());
}

TEST_F(PasswordDialogTest, RecorderLostAtEachTransfer) {
  const std::pair<int, std::string_view> rows[] = {
      {1, "密码错误或者重新连接!"},
      {2, "密码错误或者重新连接!"},
      // A lost conflict check finds no conflict; the set command is lost with it.
      {3, "修改密码失败!"},
      {4, "修改密码失败!"},
      {5, "修改密码失败!"},
      {6, "修改密码失败!"},
  };
  for (const RoleRow& role : kRoles) {
    open(role.role);
    for (const auto& [transfer, report] : rows) {
      SCOPED_TRACE(transfer);
      // A set whose reply was lost may have changed the password all the same.
      recorder.state().admin_password = kAdmin;
      recorder.state().normal_password = kNormal;
      recorder.reconnect();
      recorder.unplug_at_transfer(transfer);
      window.type(role.own, "abc123", "abc123");
      confirm(role.button);
      EXPECT_EQ(window.messages, Lines{std::string(report)});
      EXPECT_TRUE(window.fields_empty());
      EXPECT_EQ(bus.open_handles(), 0);
    }
  }
}

TEST_F(PasswordDialogTest, EveryAttemptHasASessionOfItsOwn) {
  open(PasswordRole::normal);
  bus.clear_wire();
  for (int attempt = 0; attempt < 2; ++attempt) {
    window.type(kWrong, "abc123", "abc123");
    dialog.on_command(window, 1159);
  }
  int opened = 0;
  for (const sim::WireEvent& event : bus.wire()) {
    opened += event.kind == sim::WireEvent::Kind::open;
  }
  EXPECT_EQ(opened, 2);
}

}  // namespace
}  // namespace kbc::console::testing
