// A station profile applied on the simulated recorders: one session per recorder, each command as
// its button sends it, each report its button's, the first failure ending the run.
#include <gmock/gmock.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <variant>

#include "console/apply.h"
#include "console/messages.h"
#include "console_fixture.h"
#include "link/recorders.h"
#include "station_profile.h"

namespace kbc::console::testing {
namespace {

using kbc::testing::kStationProfile;

// Every command of the station's profile in the order it goes out.
const std::string kStationLetters = "36" + std::string(kbc::testing::kStationLetters);

// key, value, report; no report: not sent.
using StepRow = std::tuple<std::string, std::string, std::optional<std::string>, bool>;

std::vector<StepRow> rows_of(const Receipt& receipt) {
  std::vector<StepRow> rows;
  for (const Step& step : receipt.steps) {
    rows.emplace_back(step.key, step.value, step.report, step.ok);
  }
  return rows;
}

const std::vector<StepRow> kStationDone{
    {"time", "2024-03-05 07:08:09", "成功设置系统时间:2024-3-5 7:8:9", true},
    {"video", "1920X1080(30)", "录像尺寸设置为1920X1080(30)成功!", true},
    {"segment", "10分钟", "录像分段10分钟设置成功", true},
    {"photo", "2688X1512", "拍照大小设置为2688X1512成功!", true},
    {"ir", "自动", "自动红外设置成功!", true},
    {"screen-off", "1分钟", "1分钟关屏设置成功!", true},
    {"voice", "打开", "打开语音提示成功!", true},
    {"brightness", "中", "屏亮度中设置成功!", true},
    {"motion", "关闭", "关闭移动侦测成功!", true},
    {"unit-number", "A7", "设置单位编号成功", true},
    {"unit-name", "龙华分局", "设置单位名称成功", true},
};

Profile profile_of(std::string_view text) {
  auto parsed = parse_profile(text);
  EXPECT_TRUE(std::holds_alternative<Profile>(parsed));
  return std::get<Profile>(std::move(parsed));
}

class ApplyTest : public ConsoleTest {
 protected:
  // The profile on the bus's only recorder, listed by a scan as kbcctl does it.
  Receipt apply(std::string_view text, const link::Secret& password = link::Secret(kAdmin)) {
    link::Link link = bus.link();
    const std::vector<link::UsbDevice> listed = link::scan_recorders(link);
    EXPECT_EQ(listed.size(), 1u);
    bus.clear_wire();
    return apply_profile(link, listed.front(), profile_of(text), password, clock);
  }

  int sessions() const {
    return static_cast<int>(std::ranges::count_if(bus.wire(), [](const sim::WireEvent& event) {
      return event.kind == sim::WireEvent::Kind::open;
    }));
  }
};

TEST_F(ApplyTest, EverySettingInOneSessionAsItsButtonSendsIt) {
  const Receipt receipt = apply(kStationProfile);
  EXPECT_TRUE(receipt.ok());
  EXPECT_TRUE(receipt.reached());
  EXPECT_EQ(receipt.location, "001/001");
  EXPECT_EQ(receipt.report, std::nullopt);
  EXPECT_EQ(rows_of(receipt), kStationDone);
  EXPECT_EQ(recorder.letters(), kStationLetters);
  EXPECT_EQ(sessions(), 1);

  // The payloads of the buttons: voice's argument, the record read with the first field's text.
  const auto payloads = recorder.payloads();
  EXPECT_EQ(payloads[7][1], '1');
  EXPECT_EQ(std::string(payloads[10].begin() + 1, payloads[10].begin() + 3), "A7");
  // Each command after its pause, with the buttons' time-out.
  std::vector<long> pauses;
  for (const sim::WireEvent& event : bus.wire()) {
    if (event.kind == sim::WireEvent::Kind::pause) {
      pauses.push_back(event.milliseconds);
    } else if (event.kind == sim::WireEvent::Kind::control) {
      EXPECT_EQ(event.timeout, 1000);
    }
  }
  EXPECT_EQ(pauses, std::vector<long>(kStationLetters.size(), 100));

  const sim::RecorderState& state = recorder.state();
  EXPECT_EQ(state.clock, "20240305070809");
  EXPECT_EQ(state.video, "set_video_1080p30");
  EXPECT_EQ(state.segment, "set_segment_10min");
  EXPECT_EQ(state.photo, "set_photo_4m");
  EXPECT_EQ(state.brightness, "set_brightness_mid");
  EXPECT_EQ(state.screen_off, "set_screen_off_1min");
  EXPECT_EQ(state.ir, "set_ir_auto");
  EXPECT_EQ(state.voice_prompt, true);
  EXPECT_EQ(state.motion_detection, false);
  // The unit fields changed, the rest of the record as the recorder held it.
  using link::IdentityField;
  EXPECT_EQ(state.identity.field(IdentityField::unit_number).to_utf8(), "A7");
  EXPECT_EQ(state.identity.field(IdentityField::unit_name).to_utf8(), "龙华分局");
  EXPECT_EQ(state.identity.field(IdentityField::user_name).to_utf8(), "张三");
  EXPECT_EQ(state.identity.field(IdentityField::serial_number).to_utf8(), "KBC0001");
  EXPECT_EQ(receipt.lines().size(), kStationDone.size());
}

TEST_F(ApplyTest, AFailureInTheMiddleEndsTheRunAndTheRestIsNotSent) {
  recorder.inject({.kind = sim::Fault::Kind::outcome, .letter = 'u', .value = 0});
  const Receipt receipt = apply(kStationProfile);
  EXPECT_FALSE(receipt.ok());
  EXPECT_TRUE(receipt.reached());
  EXPECT_EQ(receipt.outcome, Outcome::body_failed);
  std::vector<StepRow> want(kStationDone.begin(), kStationDone.begin() + 4);
  want.emplace_back("ir", "自动", "重新连接!", false);
  for (auto row = kStationDone.begin() + 5; row != kStationDone.end(); ++row) {
    want.emplace_back(std::get<0>(*row), std::get<1>(*row), std::nullopt, false);
  }
  EXPECT_EQ(rows_of(receipt), want);
  EXPECT_EQ(recorder.letters(), "36Hrfu");
  EXPECT_EQ(receipt.lines().back(), "重新连接!");
  EXPECT_EQ(recorder.state().identity.field(link::IdentityField::unit_name).to_utf8(),
            "深圳市公安局");
}

TEST_F(ApplyTest, EachFailureHasItsButtonsReport) {
  struct Row {
    std::string_view name;
    std::function<void()> fault;
    std::string_view profile;
    std::vector<StepRow> steps;
    std::string_view letters;
  };
  const StepRow time_done = kStationDone.front();
  const Row rows[] = {
      {"clock",
       [&] { recorder.inject({.kind = sim::Fault::Kind::timeout, .letter = '6'}); },
       "video = \"848X480(30)\"",
       {{"time", "2024-03-05 07:08:09", "重新连接!", false},
        {"video", "848X480(30)", std::nullopt, false}},
       "36"},
      {"motion refused while pre-recording",
       [&] { recorder.state().pre_recording = true; },
       "motion = \"on\"\nvoice = \"off\"",
       {time_done,
        {"voice", "关闭", "关闭语音提示成功!", true},
        {"motion", "打开", "请先关闭预录!", false}},
       "36]0"},
      {"record not read",
       [&] { recorder.inject({.kind = sim::Fault::Kind::short_transfer, .letter = '}'}); },
       "unit-name = \"龙华分局\"\nunit-number = \"A7\"",
       {time_done,
        {"unit-number", "A7", "重新连接!", false},
        {"unit-name", "龙华分局", "重新连接!", false}},
       "36}"},
      {"record not written",
       [&] { recorder.inject({.kind = sim::Fault::Kind::reply_code, .letter = '{', .value = 1}); },
       "unit-name = \"龙华分局\"",
       {time_done, {"unit-name", "龙华分局", "重新连接!", false}},
       "36}{"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    recorder.state() = sim::RecorderState();
    row.fault();
    const Receipt receipt = apply(row.profile);
    EXPECT_EQ(receipt.outcome, Outcome::body_failed);
    EXPECT_EQ(rows_of(receipt), row.steps);
    EXPECT_EQ(recorder.letters(), row.letters);
  }
}

TEST_F(ApplyTest, WhatEndsTheRunBeforeItsStepsIsTheReceiptsReport) {
  struct Row {
    std::string_view name;
    std::string_view password;
    std::function<void()> fault;
    Outcome outcome;
    std::string_view report;
    std::string_view letters;
  };
  const Row rows[] = {
      {"empty password", "", [] {}, Outcome::pre_check_failed, "请输入密码!", ""},
      {"short password", "88888", [] {}, Outcome::pre_check_failed, "密码长度有误!", ""},
      {"normal password", kNormal, [] {}, Outcome::gate_failed, "密码错误!", "3"},
      {"unplugged", kAdmin, [&] { recorder.unplug(); }, Outcome::no_recorder, "重新连接!", ""},
      {"access denied", kAdmin, [&] { recorder.fail_configuration(-13); }, Outcome::no_recorder,
       "重新连接!", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    link::Link link = bus.link();
    const std::vector<link::UsbDevice> listed = link::scan_recorders(link);
    bus.clear_wire();
    row.fault();
    const Receipt receipt = apply_profile(link, listed.at(0), profile_of(kStationProfile),
                                          link::Secret(row.password), clock);
    EXPECT_EQ(receipt.outcome, row.outcome);
    EXPECT_EQ(receipt.report, std::string(row.report));
    EXPECT_EQ(receipt.lines(), Lines{std::string(row.report)});
    EXPECT_EQ(receipt.reached(), row.outcome == Outcome::gate_failed);
    EXPECT_EQ(receipt.steps.size(), kStationDone.size());
    for (const Step& step : receipt.steps) {
      EXPECT_EQ(step.report, std::nullopt) << step.key;
      EXPECT_FALSE(step.ok);
    }
    EXPECT_EQ(recorder.letters(), row.letters);
    recorder.reconnect();
    recorder.fail_configuration(0);
  }
}

TEST_F(ApplyTest, AnEmptyProfileSetsTheClock) {
  const Receipt receipt = apply("");
  EXPECT_TRUE(receipt.ok());
  EXPECT_EQ(rows_of(receipt), std::vector<StepRow>{kStationDone.front()});
  EXPECT_EQ(recorder.letters(), "36");
}

// Several recorders at once: one scan, then each its own sessions with its own full sequence.
TEST_F(ApplyTest, EveryRecorderOfTheScanGetsItsOwnRun) {
  bus.add_other_device(0x046d);
  sim::SimRecorder& b = bus.add_recorder();
  sim::SimRecorder& c = bus.add_recorder("KBCC000003");
  b.state().admin_password = "654321";  // B refuses the station's password
  link::Link link = bus.link();
  std::vector<Target> targets;
  for (link::UsbDevice& device : link::scan_recorders(link)) {
    targets.push_back({std::move(device), std::nullopt});
  }
  targets.back().serial = link::GbkText::from_utf8("known");  // C's is known: no get_sn
  bus.clear_wire();

  std::map<std::string, Receipt> receipts;
  const Profile profile = profile_of(kStationProfile);
  apply_to_recorders(link, targets, profile, link::Secret(kAdmin), clock, [&](Receipt receipt) {
    const std::string location = receipt.location;
    EXPECT_TRUE(receipts.emplace(location, std::move(receipt)).second) << location;
  });

  ASSERT_EQ(receipts.size(), 3u);
  const Receipt& for_a = receipts.at("001/001");
  EXPECT_EQ(for_a.serial, "KBC0001");
  EXPECT_EQ(rows_of(for_a), kStationDone);
  EXPECT_EQ(recorder.letters(), "J" + kStationLetters);

  const Receipt& for_b = receipts.at("001/003");
  EXPECT_EQ(for_b.serial, "KBC0002");
  EXPECT_EQ(for_b.report, "密码错误!");
  EXPECT_EQ(b.letters(), "J3");

  const Receipt& for_c = receipts.at("001/004");
  EXPECT_EQ(for_c.serial, "known");
  EXPECT_TRUE(for_c.ok());
  EXPECT_EQ(c.letters(), kStationLetters);
  // No scan while the recorders were served, and no other device was opened.
  for (const sim::WireEvent& event : bus.wire()) {
    EXPECT_NE(event.kind, sim::WireEvent::Kind::find_devices);
    if (event.kind == sim::WireEvent::Kind::open) {
      EXPECT_NE(event.device, "001/002");
    }
  }
}

}  // namespace
}  // namespace kbc::console::testing
