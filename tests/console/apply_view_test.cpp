// A station profile applied from the window's menu: the password from its field, the recorders the
// buttons would talk to or every one, each receipt in the pane as one block, and an audit entry
// per recorder reached.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <variant>

#include "console/messages.h"
#include "console_fixture.h"
#include "station_profile.h"

namespace kbc::console::testing {
namespace {

using kbc::testing::kStationLetters;
using kbc::testing::kStationProfile;

const std::string kFirstLine = "应用配置文件 station.toml";

// What the recorder reports for the station's profile, after its clock.
const Lines kStationReports{"成功设置系统时间:2024-3-5 7:8:9",
                            "录像尺寸设置为1920X1080(30)成功!",
                            "录像分段10分钟设置成功",
                            "拍照大小设置为2688X1512成功!",
                            "自动红外设置成功!",
                            "1分钟关屏设置成功!",
                            "打开语音提示成功!",
                            "屏亮度中设置成功!",
                            "关闭移动侦测成功!",
                            "设置单位编号成功",
                            "设置单位名称成功"};

Lines block(const std::string& header, const Lines& reports) {
  Lines lines{header};
  lines.insert(lines.end(), reports.begin(), reports.end());
  return lines;
}

class ApplyViewTest : public ConsoleTest {
 protected:
  ApplyViewTest() {
    auto parsed = parse_profile(kStationProfile);
    profile = std::get<Profile>(std::move(parsed));
  }

  bool apply(ApplyTo to, std::string_view password = kAdmin) {
    view.lines.clear();
    bus.clear_wire();
    view.fields[idc::password] = password;
    return audited.apply_profile(profile, "station.toml", to);
  }

  // The pane's lines between the first and the last, as one block per recorder by its header.
  std::map<std::string, Lines> blocks() const {
    std::map<std::string, Lines> found;
    Lines* current = nullptr;
    for (std::size_t i = 1; i + 1 < view.lines.size(); ++i) {
      if (view.lines[i].starts_with(msg::profile_recorder)) {
        current = &found[view.lines[i]];
      }
      if (current != nullptr) {
        current->push_back(view.lines[i]);
      }
    }
    return found;
  }

  bool opened_any() const {
    return std::ranges::any_of(bus.wire(), [](const sim::WireEvent& event) {
      return event.kind == sim::WireEvent::Kind::open;
    });
  }

  Profile profile;
  FakeTrail trail;
  Console audited{view, bus.link(), clock, &trail};
};

TEST_F(ApplyViewTest, TheOnlyRecorderTakesTheProfileWhicheverItIsAppliedTo) {
  for (const ApplyTo to : {ApplyTo::chosen, ApplyTo::every}) {
    SCOPED_TRACE(static_cast<int>(to));
    trail.entries.clear();
    EXPECT_TRUE(apply(to));
    Lines want{kFirstLine};
    const Lines receipt = block("记录仪 KBC0001 (001/001):", kStationReports);
    want.insert(want.end(), receipt.begin(), receipt.end());
    want.push_back("配置文件应用完毕: 1台记录仪中1台全部设置成功");
    EXPECT_EQ(view.lines, want);
    // get_sn in a session of its own, then the profile's.
    EXPECT_EQ(recorder.letters(), "J36" + std::string(kStationLetters));
    ASSERT_EQ(trail.entries.size(), 1u);
    EXPECT_EQ(trail.entries[0].action, "apply");
    EXPECT_EQ(trail.entries[0].outcome, AuditOutcome::ok);
    EXPECT_EQ(trail.entries[0].serial, "KBC0001");
    EXPECT_EQ(trail.entries[0].report, kStationReports);
  }
}

TEST_F(ApplyViewTest, WhatIsRefusedBeforeTheBusSendsNothingAndEntersNothing) {
  struct Row {
    std::string_view name;
    std::string_view password;
    std::function<void()> setup;
    std::string_view report;
    bool asks_for_a_choice;
  };
  const auto nothing = [] {};
  const Row rows[] = {
      {"empty password", "", nothing, msg::enter_password, false},
      {"short password", "88888", nothing, msg::password_length, false},
      {"none on the bus", kAdmin, [this] { recorder.unplug(); }, msg::reconnect, false},
      {"several, none chosen", kAdmin,
       [this] {
         recorder.reconnect();
         bus.add_recorder();
       },
       msg::choose_recorder, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    row.setup();
    EXPECT_FALSE(apply(ApplyTo::chosen, row.password));
    EXPECT_EQ(view.lines, (Lines{kFirstLine, std::string(row.report)}));
    EXPECT_EQ(audited.needs_recorder_choice(), row.asks_for_a_choice);
    EXPECT_FALSE(opened_any());
    EXPECT_TRUE(trail.entries.empty());
  }
}

TEST_F(ApplyViewTest, TheChosenRecorderAloneTakesItWithTheSerialTheViewKnows) {
  bus.add_other_device(0x046d);
  sim::SimRecorder& b = bus.add_recorder();
  audited.choose_recorder(b.location(), "KBC0002");
  EXPECT_TRUE(apply(ApplyTo::chosen));
  EXPECT_EQ(view.lines.at(1), "记录仪 KBC0002 (001/003):");
  EXPECT_EQ(b.letters(), "36" + std::string(kStationLetters));
  EXPECT_EQ(recorder.letters(), "");
  ASSERT_EQ(trail.entries.size(), 1u);
  EXPECT_EQ(trail.entries[0].location, "001/003");
}

TEST_F(ApplyViewTest, EveryRecorderAtOnceEachReceiptInABlockOfItsOwn) {
  sim::SimRecorder& b = bus.add_recorder();
  sim::SimRecorder& c = bus.add_recorder();
  b.state().admin_password = "654321";  // refuses the operator's password
  c.inject({.kind = sim::Fault::Kind::outcome, .letter = 'u', .value = 0});  // fails at ir
  // Even with one chosen: the menu's "every" means every one.
  audited.choose_recorder(recorder.location(), "KBC0001");
  EXPECT_FALSE(apply(ApplyTo::every));

  EXPECT_EQ(view.lines.front(), kFirstLine);
  EXPECT_EQ(view.lines.back(), "配置文件应用完毕: 3台记录仪中1台全部设置成功");
  const Lines c_reports{kStationReports[0],
                        kStationReports[1],
                        kStationReports[2],
                        kStationReports[3],
                        "重新连接!",
                        "未发送的设置: screen-off, voice, brightness, motion, unit-number, "
                        "unit-name"};
  const std::map<std::string, Lines> want{
      {"记录仪 KBC0001 (001/001):", block("记录仪 KBC0001 (001/001):", kStationReports)},
      {"记录仪 KBC0002 (001/002):", block("记录仪 KBC0002 (001/002):", {"密码错误!"})},
      {"记录仪 KBC0003 (001/003):", block("记录仪 KBC0003 (001/003):", c_reports)},
  };
  EXPECT_EQ(blocks(), want);

  std::map<std::string, AuditOutcome> outcomes;
  for (const AuditEntry& entry : trail.entries) {
    outcomes[entry.location] = entry.outcome;
  }
  EXPECT_EQ(outcomes, (std::map<std::string, AuditOutcome>{{"001/001", AuditOutcome::ok},
                                                           {"001/002", AuditOutcome::refused},
                                                           {"001/003", AuditOutcome::failed}}));
}

TEST_F(ApplyViewTest, AChosenRecorderThatLeftGetsNothingAndIsEnteredAsGone) {
  sim::SimRecorder& b = bus.add_recorder();
  audited.choose_recorder(b.location(), "KBC0002");
  b.unplug();
  EXPECT_FALSE(apply(ApplyTo::chosen));
  EXPECT_EQ(view.lines, (Lines{kFirstLine, std::string(msg::reconnect)}));
  EXPECT_FALSE(opened_any());
  ASSERT_EQ(trail.entries.size(), 1u);
  EXPECT_EQ(trail.entries[0].location, "001/002");
  EXPECT_EQ(trail.entries[0].outcome, AuditOutcome::no_recorder);
}

TEST_F(ApplyViewTest, TheFilesNameIsShownAsText) {
  view.fields[idc::password] = "";
  audited.apply_profile(profile, "evil\x1b]0;title\a\n.toml", ApplyTo::every);
  EXPECT_EQ(view.lines.front(), "应用配置文件 evil\\x1b]0;title\\x07\\x0a.toml");
}

TEST_F(ApplyViewTest, WithoutAWritableTrailTheRunIsTheSameAndEntersNothing) {
  trail.open = false;
  EXPECT_TRUE(apply(ApplyTo::chosen));
  EXPECT_EQ(view.lines.size(), kStationReports.size() + 3);
  EXPECT_TRUE(trail.entries.empty());
}

}  // namespace
}  // namespace kbc::console::testing
