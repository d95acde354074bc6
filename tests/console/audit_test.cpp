// The audit trail: one entry for each operation that addressed a recorder, with the recorder's
// serial number looked up beforehand where the view does not know it, and nothing for an
// operation that stopped before the bus.
#include "console/audit.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "console/drawer.h"
#include "console/messages.h"
#include "console/password_dialog.h"
#include "console_fixture.h"

namespace kbc::console::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

// The password dialog with the three fields typed and its confirm button pressed once.
class TypedDialog final : public DialogView {
 public:
  std::map<int, std::string> fields;
  std::string field_text(int id) override { return fields[id]; }
  void set_field_text(int id, std::string_view text) override { fields[id] = text; }
  void limit_field(int, int) override {}
  void show_control(int, bool) override {}
  void set_title(std::string_view) override {}
  void halve_width() override {}
  void show_message(std::string_view, MessageIcon) override {}
  void accept() override {}
};

// One kind of wire event as a line, to compare two runs.
std::string described(const sim::WireEvent& e) {
  std::string text = std::to_string(static_cast<int>(e.kind)) + " " + e.device + " " +
                     std::to_string(e.value) + " " + std::to_string(e.result);
  text.append(e.data.begin(), e.data.end());
  return text;
}

std::vector<std::string> described(const std::vector<sim::WireEvent>& wire) {
  std::vector<std::string> lines;
  for (const sim::WireEvent& e : wire) {
    lines.push_back(described(e));
  }
  return lines;
}

class AuditTest : public ConsoleTest {
 protected:
  // Presses `id` on the console with the trail, from a clean wire and an empty trail.
  bool press_audited(int id, std::string_view password) {
    view.lines.clear();
    view.messages.clear();
    bus.clear_wire();
    trail.entries.clear();
    view.fields[idc::password] = password;
    return audited.on_command(id);
  }

  const AuditEntry& only_entry() {
    static const AuditEntry none{};
    EXPECT_EQ(trail.entries.size(), 1u);
    return trail.entries.empty() ? none : trail.entries.front();
  }

  FakeTrail trail;
  Console audited{view, bus.link(), clock, &trail};
};

struct Operation {
  const char* name;
  int button;
  std::string_view password;
  std::function<void(FakeView&, sim::SimRecorder&)> setup;
  std::string value;
  AuditOutcome outcome;
  Lines report;
  Severity severity;
};

void PrintTo(const Operation& operation, std::ostream* out) {
  *out << operation.name;
}

const auto kNothing = [](FakeView&, sim::SimRecorder&) {};
const auto kYesYes = [](FakeView& v, sim::SimRecorder&) { v.answers = {true, true}; };

const Operation kOperations[] = {
    {"setting_changed",
     idc::video,
     kAdmin,
     [](FakeView& v, sim::SimRecorder&) { v.selections[idc::video_list] = "1920X1080(30)"; },
     "1920X1080(30)",
     AuditOutcome::ok,
     {"录像尺寸设置为1920X1080(30)成功!"},
     Severity::notice},
    {"wrong_password",
     idc::video,
     kWrong,
     [](FakeView& v, sim::SimRecorder&) { v.selections[idc::video_list] = "1920X1080(30)"; },
     "",
     AuditOutcome::refused,
     {"密码错误!"},
     Severity::warning},
    {"motion_during_pre_recording",
     idc::motion,
     kAdmin,
     [](FakeView& v, sim::SimRecorder& r) {
       v.selections[idc::motion_list] = "打开";
       r.state().pre_recording = true;
     },
     "打开",
     AuditOutcome::refused,
     {"请先关闭预录!"},
     Severity::warning},
    {"setting_transfer_failed",
     idc::segment,
     kAdmin,
     [](FakeView& v, sim::SimRecorder& r) {
       v.selections[idc::segment_list] = "关闭";
       r.inject({.kind = sim::Fault::Kind::timeout, .letter = 'Y'});
     },
     "关闭",
     AuditOutcome::failed,
     {"重新连接!"},
     Severity::warning},
    {"nothing_chosen",
     idc::photo,
     kAdmin,
     kNothing,
     "",
     AuditOutcome::failed,
     {"请选择分辨率!"},
     Severity::warning},
    {"erase_answered_no",
     idc::erase,
     kAdmin,
     [](FakeView& v, sim::SimRecorder&) {
       v.answers = {true, false};
     },
     "",
     AuditOutcome::cancelled,
     {"清除操作取消!"},
     Severity::notice},
    {"erase_answered_yes",
     idc::erase,
     kAdmin,
     kYesYes,
     "",
     AuditOutcome::ok,
     {"所有资料将会被消除!", "清除文件成功"},
     Severity::notice},
    {"verify",
     idc::verify,
     kNormal,
     kNothing,
     "",
     AuditOutcome::ok,
     {"成功设置系统时间:2024-3-5 7:8:9"},
     Severity::notice},
    {"verify_wrong_password",
     idc::verify,
     kWrong,
     kNothing,
     "",
     AuditOutcome::refused,
     {"密码错误!"},
     Severity::warning},
    {"disk",
     idc::msdc,
     kNormal,
     kNothing,
     "",
     AuditOutcome::ok,
     {"设置移动U盘成功.", "要再次使用本软件功能,请断开USB连接，重新连接!"},
     Severity::notice},
    {"identity_edit",
     idc::unit_name,
     kAdmin,
     [](FakeView& v, sim::SimRecorder&) { v.fields[idc::unit_name_field] = "龙岗分局"; },
     "龙岗分局",
     AuditOutcome::ok,
     {"设置单位名称成功"},
     Severity::notice},
    {"user_number_and_its_refresh",
     idc::user_number,
     kAdmin,
     [](FakeView& v, sim::SimRecorder&) { v.fields[idc::user_number_field] = "A7"; },
     "A7",
     AuditOutcome::ok,
     {"设置用户编号成功"},
     Severity::notice},
    {"identity_field_empty",
     idc::user_name,
     kAdmin,
     kNothing,
     "",
     AuditOutcome::failed,
     {"用户名称设置为空!"},
     Severity::warning},
    {"info",
     idc::device_info,
     kNormal,
     kNothing,
     "",
     AuditOutcome::ok,
     {"设备序列号:KBC0001", "用户编号:000001", "用户名称:张三", "单位编号:440300000000",
      "单位名称:深圳市公安局"},
     Severity::info},
};

class AuditedOperation : public AuditTest, public ::testing::WithParamInterface<Operation> {};

TEST_P(AuditedOperation, OneEntryTellsTheRecorderWhatWasAskedHowItEndedAndWhatWasShown) {
  const Operation& operation = GetParam();
  operation.setup(view, recorder);
  press_audited(operation.button, operation.password);

  const AuditEntry& entry = only_entry();
  EXPECT_EQ(entry.action, action_name(operation.button));
  EXPECT_EQ(entry.value, operation.value);
  EXPECT_EQ(entry.location, recorder.location());
  EXPECT_EQ(entry.serial, "KBC0001");
  EXPECT_EQ(entry.outcome, operation.outcome);
  EXPECT_EQ(entry.report, operation.report);
  EXPECT_EQ(entry.report, view.lines);
  EXPECT_EQ(entry.severity(), operation.severity);
  EXPECT_EQ(entry.message(), std::string(entry.action) + " on KBC0001 (" + recorder.location() +
                                 "): " + operation.report.back());
}

INSTANTIATE_TEST_SUITE_P(Console, AuditedOperation, ::testing::ValuesIn(kOperations),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AuditTest, APreCheckFailureSendsNothingAndWritesNothing) {
  view.selections[idc::video_list] = "1920X1080(30)";
  for (const std::string_view password : {"", "12345", "1234567"}) {
    EXPECT_FALSE(press_audited(idc::video, password));
    EXPECT_THAT(trail.entries, IsEmpty());
    EXPECT_THAT(bus.wire(), IsEmpty());
  }
  EXPECT_EQ(trail.asked, 0);
}

TEST_F(AuditTest, TheSerialIsReadInASessionOfItsOwnAndTheOperationsSessionIsAsWithoutATrail) {
  view.selections[idc::video_list] = "1920X1080(30)";
  press(idc::video, kAdmin);
  const std::vector<std::string> alone = described(bus.wire());
  ASSERT_THAT(alone, Not(IsEmpty()));

  press_audited(idc::video, kAdmin);
  const std::vector<std::string> audited_wire = described(bus.wire());
  ASSERT_GT(audited_wire.size(), alone.size());
  const std::vector<std::string> operation(audited_wire.end() - alone.size(), audited_wire.end());
  EXPECT_EQ(operation, alone);
  // Before it: one scan and get_sn on the recorder, closed again.
  const std::size_t before = audited_wire.size() - alone.size();
  EXPECT_EQ(bus.wire()[before - 1].kind, sim::WireEvent::Kind::close);
  EXPECT_EQ(recorder.letters(), "J-3H");
}

TEST_F(AuditTest, WithoutAJournalTheOperationGoesAsWithoutATrailAndWritesNothing) {
  trail.open = false;
  view.selections[idc::video_list] = "1920X1080(30)";
  press(idc::video, kAdmin);
  const std::vector<std::string> alone = described(bus.wire());
  press_audited(idc::video, kAdmin);
  EXPECT_EQ(described(bus.wire()), alone);
  EXPECT_THAT(trail.entries, IsEmpty());
  EXPECT_EQ(trail.asked, 1);
}

TEST_F(AuditTest, ASerialTheViewKnowsSavesTheLookUp) {
  audited.choose_recorder(recorder.location(), "KBC0001");
  press_audited(idc::verify, kAdmin);
  EXPECT_EQ(recorder.letters(), "-3E6");
  EXPECT_EQ(only_entry().serial, "KBC0001");
}

TEST_F(AuditTest, WithSeveralRecordersAndNoneChosenNothingIsWritten) {
  sim::SimRecorder& b = bus.add_recorder();
  press_audited(idc::verify, kAdmin);
  EXPECT_THAT(view.lines, ElementsAre(msg::choose_recorder));
  EXPECT_THAT(trail.entries, IsEmpty());
  EXPECT_EQ(recorder.letters() + b.letters(), "");
}

TEST_F(AuditTest, WithNoRecorderAtAllNothingIsWritten) {
  recorder.unplug();
  press_audited(idc::verify, kAdmin);
  EXPECT_THAT(view.lines, ElementsAre(msg::reconnect));
  EXPECT_THAT(trail.entries, IsEmpty());
}

TEST_F(AuditTest, AChosenRecorderThatIsGoneIsEnteredAsNoRecorder) {
  audited.choose_recorder("001/009");
  press_audited(idc::erase, kAdmin);
  const AuditEntry& entry = only_entry();
  EXPECT_EQ(entry.location, "001/009");
  EXPECT_EQ(entry.serial, std::nullopt);
  EXPECT_EQ(entry.outcome, AuditOutcome::no_recorder);
  EXPECT_EQ(entry.report, Lines{"重新连接!"});
  EXPECT_EQ(entry.severity(), Severity::warning);
  EXPECT_EQ(entry.message(), "erase on - (001/009): 重新连接!");
}

TEST_F(AuditTest, ARecorderThatVanishesAfterTheLookUpIsEnteredAsNoRecorder) {
  // Gone at get_sn's reply.
  recorder.unplug_at_transfer(2);
  press_audited(idc::verify, kAdmin);
  const AuditEntry& entry = only_entry();
  EXPECT_EQ(entry.location, recorder.location());
  EXPECT_EQ(entry.serial, std::nullopt);
  EXPECT_EQ(entry.outcome, AuditOutcome::no_recorder);
}

// Runs `then` at the n-th pause of the link.
class PauseHook final : public link::Pause {
 public:
  PauseHook(link::Pause& inner, int n, std::function<void()> then)
      : inner_(inner), n_(n), then_(std::move(then)) {}
  void pause(std::chrono::milliseconds duration) override {
    inner_.pause(duration);
    if (--n_ == 0) {
      then_();
    }
  }

 private:
  link::Pause& inner_;
  int n_;
  std::function<void()> then_;
};

TEST_F(AuditTest, TheOperationReachesOnlyTheRecorderItsEntryNames) {
  // The look-up pauses after each find and before get_sn; the operation's scan pauses after
  // finding the busses: there the recorder is swapped for another.
  sim::SimRecorder* other = nullptr;
  PauseHook swap(bus, 4, [&] {
    recorder.unplug();
    other = &bus.add_recorder();
  });
  Console console_with_hook(view, link::Link{bus, swap}, clock, &trail);
  view.fields[idc::password] = kAdmin;
  console_with_hook.on_command(idc::verify);

  ASSERT_NE(other, nullptr);
  EXPECT_EQ(other->letters(), "");
  EXPECT_EQ(only_entry().serial, "KBC0001");
  EXPECT_EQ(only_entry().outcome, AuditOutcome::no_recorder);
  // The next operation is the only recorder's again.
  trail.entries.clear();
  console_with_hook.on_command(idc::verify);
  EXPECT_EQ(only_entry().location, other->location());
}

TEST_F(AuditTest, TheWindowsPickGivesTheSerialAndAPickThatLeftIsNoRecorderToEnter) {
  sim::SimRecorder& b = bus.add_recorder();
  Drawer drawer(audited, bus.link());
  drawer.refresh();
  ASSERT_TRUE(drawer.pick({b.location(), "KBC0002"}));
  press_audited(idc::verify, kAdmin);
  EXPECT_EQ(only_entry().serial, "KBC0002");
  EXPECT_EQ(only_entry().location, b.location());
  EXPECT_EQ(b.letters(), "-3E6") << "no look-up: the drawer read it";

  b.unplug();
  drawer.forget(b.location());
  drawer.refresh();
  press_audited(idc::verify, kAdmin);
  EXPECT_THAT(view.lines, ElementsAre(msg::reconnect));
  EXPECT_THAT(trail.entries, IsEmpty());
}

TEST_F(AuditTest, InfoForScriptsIsOneEntryToo) {
  view.fields[idc::password] = kAdmin;
  ASSERT_TRUE(audited.show_device_info());
  EXPECT_EQ(only_entry().action, "info");
  EXPECT_EQ(only_entry().report.size(), 5u);
}

TEST_F(AuditTest, NoButtonOfTheBarIsWithoutItsActionName) {
  for (const int id :
       {idc::verify, idc::change_password, idc::erase, idc::msdc, idc::video, idc::segment,
        idc::photo, idc::brightness, idc::screen_off, idc::ir, idc::voice, idc::motion,
        idc::user_name, idc::user_number, idc::unit_name, idc::unit_number, idc::device_info}) {
    EXPECT_FALSE(action_name(id).empty()) << id;
  }
  EXPECT_TRUE(action_name(idc::password).empty());
}

// The password change: its role, what the dialog said, and never a password.
struct Change {
  const char* name;
  std::string_view password;                        // in the settings bar
  std::optional<std::array<std::string, 3>> typed;  // old, new, confirmation; nullopt: 取消
  std::string value;
  AuditOutcome outcome;
  Lines report;
};

void PrintTo(const Change& change, std::ostream* out) {
  *out << change.name;
}

const Change kChanges[] = {
    {"administrator_changed",
     kAdmin,
     std::array<std::string, 3>{"888888", "135790", "135790"},
     "super",
     AuditOutcome::ok,
     {"修改密码成功!"}},
    {"normal_changed",
     kNormal,
     std::array<std::string, 3>{"000000", "246802", "246802"},
     "normal",
     AuditOutcome::ok,
     {"修改密码成功!"}},
    {"old_password_wrong",
     kAdmin,
     std::array<std::string, 3>{"777777", "135790", "135790"},
     "super",
     AuditOutcome::refused,
     {"密码错误或者重新连接!"}},
    {"conflict",
     kAdmin,
     std::array<std::string, 3>{"888888", "000000", "000000"},
     "super",
     AuditOutcome::refused,
     {"密码冲突，请使用其它密码!"}},
    {"not_confirmed",
     kAdmin,
     std::array<std::string, 3>{"888888", "135790", "135791"},
     "super",
     AuditOutcome::failed,
     {"新密码不一致!"}},
    {"cancelled", kAdmin, std::nullopt, "super", AuditOutcome::cancelled, {}},
    {"role_not_found", kWrong, std::nullopt, "", AuditOutcome::refused, {"密码错误!"}},
};

class AuditedChange : public AuditTest, public ::testing::WithParamInterface<Change> {};

TEST_P(AuditedChange, TheEntryNamesTheRoleAndWhatTheDialogSaid) {
  const Change& change = GetParam();
  view.on_dialog = [&](PasswordDialog& dialog) {
    TypedDialog window;
    dialog.initialise(window);
    if (change.typed) {
      window.fields[idc::old_password] = (*change.typed)[0];
      window.fields[idc::new_password] = (*change.typed)[1];
      window.fields[idc::confirm_password] = (*change.typed)[2];
      dialog.on_command(window, dialog.confirm_button());
    }
  };
  press_audited(idc::change_password, change.password);

  const AuditEntry& entry = only_entry();
  EXPECT_EQ(entry.action, "passwd");
  EXPECT_EQ(entry.value, change.value);
  EXPECT_EQ(entry.outcome, change.outcome);
  EXPECT_EQ(entry.report, change.report);
  std::string everything =
      entry.value + entry.location + entry.serial.value_or("") + entry.message();
  for (const std::string& line : entry.report) {
    everything += line;
  }
  for (const std::string_view password : {"888888", "000000", "777777", "135790", "246802"}) {
    EXPECT_THAT(everything, Not(HasSubstr(std::string(password))));
  }
}

INSTANTIATE_TEST_SUITE_P(Console, AuditedChange, ::testing::ValuesIn(kChanges),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kbc::console::testing
