// kbcctl apply PROFILE on simulated recorders: the receipts, the recorders it takes, and what a
// script reads from the exit status and the JSON alone.
#include <gmock/gmock.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>

#include "cli_fixture.h"

namespace kbc::cli::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

const std::string kStation = R"toml(# Station profile
video = "1920X1080(30)"
segment = "10min"
motion = "关闭"
unit-name = "龙华分局"
)toml";

// check_admin_psw, set_time, video, segment, motion, the record read and written back.
const std::string kStationLetters = "36Hr,}{";

const Lines kStationBlock{
    "001/001 KBC0001: ok",
    "  time 2024-03-05 07:08:09: 成功设置系统时间:2024-3-5 7:8:9",
    "  video 1920X1080(30): 录像尺寸设置为1920X1080(30)成功!",
    "  segment 10分钟: 录像分段10分钟设置成功",
    "  motion 关闭: 关闭移动侦测成功!",
    "  unit-name 龙华分局: 设置单位名称成功",
};

std::string json_steps(std::string_view time_report, std::string_view rest) {
  return std::string(R"({"key":"time","value":"2024-03-05 07:08:09","report":")") +
         std::string(time_report) + R"(","ok":true},)" + std::string(rest);
}

const std::string kStationSteps = json_steps(
    "成功设置系统时间:2024-3-5 7:8:9",
    R"j({"key":"video","value":"1920X1080(30)","report":"录像尺寸设置为1920X1080(30)成功!","ok":true},)j"
    R"({"key":"segment","value":"10分钟","report":"录像分段10分钟设置成功","ok":true},)"
    R"({"key":"motion","value":"关闭","report":"关闭移动侦测成功!","ok":true},)"
    R"({"key":"unit-name","value":"龙华分局","report":"设置单位名称成功","ok":true})");

class ApplyTest : public CliTest {
 protected:
  ApplyTest() {
    env["KBC_PASSWORD"] = kAdmin;
    std::ofstream(profile_) << kStation;
  }
  ~ApplyTest() override { std::remove(profile_.c_str()); }

  // Recorder B after a mouse, and recorder C.
  void drawer() {
    usb_bus.add_other_device(0x046d);
    usb_bus.add_recorder();
    usb_bus.add_recorder();
  }

  // Test cases run side by side, each in a process of its own.
  std::string profile_ =
      ::testing::TempDir() + "kbcctl-station-" + std::to_string(::getpid()) + ".toml";
};

TEST_F(ApplyTest, TheOnlyRecorderGetsTheProfileAndAReceipt) {
  EXPECT_EQ(kbcctl({"apply", profile_}), kSucceeded);
  EXPECT_EQ(output(), kStationBlock);
  EXPECT_EQ(err.str(), "");
  // Its serial number in a session of its own, then the profile in one.
  EXPECT_EQ(usb.letters(), "J" + kStationLetters);
  EXPECT_EQ(usb.state().segment, "set_segment_10min");
  EXPECT_EQ(usb_bus.open_handles(), 0);
}

TEST_F(ApplyTest, JsonIsOneObjectPerRecorder) {
  EXPECT_EQ(kbcctl({"--json", "apply", profile_}), kSucceeded);
  EXPECT_EQ(out.str(), R"({"location":"001/001","serial":"KBC0001","ok":true,"report":null,)"
                       R"("steps":[)" +
                           kStationSteps + "]}\n");
}

TEST_F(ApplyTest, AFailureInTheMiddleIsExitOneAndTheRestNotSent) {
  usb.state().pre_recording = true;  // refuses motion detection on
  std::ofstream(profile_) << "motion = \"on\"\nvideo = \"848X480(30)\"\nunit-number = \"A7\"\n";
  EXPECT_EQ(kbcctl({"apply", profile_}), kFailed);
  EXPECT_THAT(output(), ElementsAre("001/001 KBC0001: failed",
                                    "  time 2024-03-05 07:08:09: 成功设置系统时间:2024-3-5 7:8:9",
                                    "  video 848X480(30): 录像尺寸设置为848X480(30)成功!",
                                    "  motion 打开: 请先关闭预录!", "  unit-number A7: not sent"));
  EXPECT_EQ(kbcctl({"--json", "apply", profile_}), kFailed);
  EXPECT_EQ(
      out.str(),
      R"({"location":"001/001","serial":"KBC0001","ok":false,"report":null,"steps":[)" +
          json_steps(
              "成功设置系统时间:2024-3-5 7:8:9",
              R"j({"key":"video","value":"848X480(30)","report":"录像尺寸设置为848X480(30)成功!","ok":true},)j"
              R"({"key":"motion","value":"打开","report":"请先关闭预录!","ok":false},)"
              R"({"key":"unit-number","value":"A7","report":null,"ok":false})") +
          "]}\n");
  EXPECT_EQ(usb.letters(), "J36K0J36K0");
}

TEST_F(ApplyTest, AWrongPasswordSendsNoStepAndSaysSo) {
  env["KBC_PASSWORD"] = kNormal;
  EXPECT_EQ(kbcctl({"apply", profile_}), kFailed);
  EXPECT_THAT(output(), ElementsAre("001/001 KBC0001: 密码错误!", "  time: not sent",
                                    "  video 1920X1080(30): not sent", "  segment 10分钟: not sent",
                                    "  motion 关闭: not sent", "  unit-name 龙华分局: not sent"));
  EXPECT_EQ(kbcctl({"--json", "apply", profile_}), kFailed);
  EXPECT_THAT(out.str(), StartsWith(R"({"location":"001/001","serial":"KBC0001","ok":false,)"
                                    R"("report":"密码错误!","steps":[{"key":"time","value":null,)"
                                    R"("report":null,"ok":false},)"));
  EXPECT_EQ(usb.letters(), "J3J3");
}

TEST_F(ApplyTest, AllTakesEveryRecorderEachWithItsOwnRunAndReceipt) {
  drawer();
  usb_bus.recorder(2).state().admin_password = "654321";  // C refuses the station's password
  EXPECT_EQ(kbcctl({"--all", "--json", "apply", profile_}), kFailed);
  Lines receipts = output();
  std::ranges::sort(receipts);
  ASSERT_EQ(receipts.size(), 3u);
  EXPECT_EQ(receipts[0], R"({"location":"001/001","serial":"KBC0001","ok":true,"report":null,)"
                         R"("steps":[)" +
                             kStationSteps + "]}");
  EXPECT_EQ(receipts[1], R"({"location":"001/003","serial":"KBC0002","ok":true,"report":null,)"
                         R"("steps":[)" +
                             kStationSteps + "]}");
  EXPECT_THAT(receipts[2], StartsWith(R"({"location":"001/004","serial":"KBC0003","ok":false,)"
                                      R"("report":"密码错误!",)"));
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(usb_bus.recorder(i).letters(), i < 2 ? "J" + kStationLetters : "J3") << i;
  }
  // One scan for all of them.
  EXPECT_EQ(std::ranges::count_if(usb_bus.wire(),
                                  [](const sim::WireEvent& event) {
                                    return event.kind == sim::WireEvent::Kind::find_devices;
                                  }),
            1);
  usb_bus.recorder(2).state().admin_password = std::string(kAdmin);
  EXPECT_EQ(kbcctl({"--all", "apply", profile_}), kSucceeded);
  EXPECT_EQ(output().size(), 3 * kStationBlock.size());
}

TEST_F(ApplyTest, OneRecorderOfADrawerByDeviceOrSerial) {
  drawer();
  EXPECT_EQ(kbcctl({"--device", "001/003", "apply", profile_}), kSucceeded);
  EXPECT_EQ(output().front(), "001/003 KBC0002: ok");
  EXPECT_EQ(usb_bus.recorder(1).letters(), "J" + kStationLetters);
  EXPECT_EQ(usb.letters(), "");
  usb_bus.clear_wire();
  // --serial reads every serial number once, and the chosen one is not asked again.
  EXPECT_EQ(kbcctl({"--serial", "KBC0003", "apply", profile_}), kSucceeded);
  EXPECT_EQ(output().front(), "001/004 KBC0003: ok");
  EXPECT_EQ(usb_bus.recorder(2).letters(), "J" + kStationLetters);
  EXPECT_EQ(usb.letters(), "J");
}

// Whatever stops apply before a recorder's steps: its exit status, where it says so, and that
// nothing but serial-number look-ups reached a recorder.
struct Stop {
  std::string_view name;
  std::vector<std::string> args;  // PROFILE: the profile's path
  std::string_view password;
  std::function<void(sim::SimBus&)> bus;
  int status;
  std::string_view out, json, err;
};

void PrintTo(const Stop& stop, std::ostream* os) {
  *os << stop.name;
}

const auto kDrawer = [](sim::SimBus& bus) {
  bus.add_recorder();
  bus.add_recorder();
};
const auto kEmpty = [](sim::SimBus& bus) { bus.recorder(0).unplug(); };
const auto kAsItIs = [](sim::SimBus&) {};

const Stop kStops[] = {
    {"ShortPassword",
     {"apply", "PROFILE"},
     "88888",
     kAsItIs,
     kUsage,
     "密码长度有误!\n",
     R"({"ok":false,"lines":["密码长度有误!"]})",
     ""},
    {"SeveralAndNoneChosen",
     {"apply", "PROFILE"},
     kAdmin,
     kDrawer,
     kSelection,
     "",
     R"({"ok":false,"lines":[]})",
     "连接了多台记录仪，请先选择一台!\nkbcctl: several recorders are connected and none is chosen"},
    {"NoSerialMatches",
     {"--serial", "KBC0009", "apply", "PROFILE"},
     kAdmin,
     kDrawer,
     kSelection,
     "",
     R"({"ok":false,"lines":[]})",
     "kbcctl: no recorder has the serial number"},
    {"NoRecorder",
     {"apply", "PROFILE"},
     kAdmin,
     kEmpty,
     kNoRecorder,
     "重新连接!\n",
     R"({"ok":false,"lines":["重新连接!"]})",
     ""},
    {"NoRecorderForAll",
     {"--all", "apply", "PROFILE"},
     kAdmin,
     kEmpty,
     kNoRecorder,
     "重新连接!\n",
     R"({"ok":false,"lines":["重新连接!"]})",
     ""},
    {"DeviceGone",
     {"--device", "001/007", "apply", "PROFILE"},
     kAdmin,
     kAsItIs,
     kNoRecorder,
     "重新连接!\n",
     R"({"ok":false,"lines":["重新连接!"]})",
     ""},
    // Listed by the scan, but it does not open: a receipt, and nothing reached.
    {"NoneOpens",
     {"--all", "apply", "PROFILE"},
     kAdmin,
     [](sim::SimBus& bus) {
       bus.recorder(0).unplug();
       bus.add_unopenable_recorder();
     },
     kNoRecorder,
     "001/002 -: 重新连接!\n",
     R"({"location":"001/002","serial":null,"ok":false,)",
     ""},
};

class ApplyStopTest : public ApplyTest, public ::testing::WithParamInterface<Stop> {};

TEST_P(ApplyStopTest, SendsNoStepAndExitsWithItsStatus) {
  const Stop& stop = GetParam();
  env["KBC_PASSWORD"] = stop.password;
  stop.bus(usb_bus);
  std::vector<std::string> args = stop.args;
  std::ranges::replace(args, std::string("PROFILE"), profile_);
  for (const bool json : {false, true}) {
    SCOPED_TRACE(json ? "--json" : "text");
    usb_bus.clear_wire();
    std::vector<std::string> with = args;
    if (json) {
      with.insert(with.begin(), "--json");
    }
    EXPECT_EQ(kbcctl(with), stop.status);
    if (json) {
      EXPECT_THAT(out.str(), StartsWith(std::string(stop.json)));
    } else {
      EXPECT_THAT(out.str(), StartsWith(std::string(stop.out)));
    }
    EXPECT_THAT(err.str(), StartsWith(std::string(stop.err)));
    for (std::size_t i = 0; i < usb_bus.recorder_count(); ++i) {
      const std::string letters = usb_bus.recorder(i).letters();
      EXPECT_EQ(letters.find_first_not_of('J'), std::string::npos) << letters;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Apply, ApplyStopTest, ::testing::ValuesIn(kStops),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ApplyTest, ABadProfileIsAUsageErrorNamingItsLineBeforeThePassword) {
  env.clear();
  std::ofstream(profile_) << "video = \"848X480(30)\"\n\nbrightness = \"dim\"\n";
  EXPECT_EQ(kbcctl({"--all", "--json", "apply", profile_}), kUsage);
  EXPECT_THAT(err.str(), HasSubstr("kbcctl: apply: " + profile_ +
                                   ":3: brightness: 'dim' is no item of the list; one of: 高 "
                                   "(high), 中 (mid), 低 (low)\n"));
  EXPECT_EQ(out.str(), "");
  EXPECT_THAT(terminal.prompts, IsEmpty());
  EXPECT_TRUE(usb_bus.wire().empty());

  std::ofstream(profile_) << std::string(64 * 1024 + 1, '#');
  EXPECT_EQ(kbcctl({"apply", profile_}), kUsage);
  EXPECT_THAT(err.str(), HasSubstr("larger than 64 KiB"));
}

TEST_F(ApplyTest, ThePasswordIsReadOnceForEveryRecorder) {
  drawer();
  env.clear();
  terminal.secrets = {std::string(kAdmin)};
  EXPECT_EQ(kbcctl({"--all", "apply", profile_}), kSucceeded);
  EXPECT_EQ(terminal.prompts.size(), 1u);
}

// --- every command for scripts ---

TEST_F(CliTest, JsonForEveryCommandHoldsItsReportLines) {
  env["KBC_PASSWORD"] = kAdmin;
  EXPECT_EQ(kbcctl({"--json", "verify"}), kSucceeded);
  EXPECT_EQ(out.str(), "{\"ok\":true,\"lines\":[\"成功设置系统时间:2024-3-5 7:8:9\"]}\n");
  EXPECT_EQ(kbcctl({"--json", "--yes", "erase"}), kSucceeded);
  EXPECT_EQ(out.str(), "{\"ok\":true,\"lines\":[\"所有资料将会被消除!\",\"清除文件成功\"]}\n");
  env["KBC_PASSWORD"] = kNormal;
  EXPECT_EQ(kbcctl({"segment", "off", "--json"}), kFailed);
  EXPECT_EQ(out.str(), "{\"ok\":false,\"lines\":[\"密码错误!\"]}\n");
  usb.unplug();
  EXPECT_EQ(kbcctl({"--json", "video", "848X480(30)"}), kNoRecorder);
  EXPECT_EQ(out.str(), "{\"ok\":false,\"lines\":[\"重新连接!\"]}\n");
  EXPECT_EQ(err.str(), "");
}

TEST_F(CliTest, AliasesPickTheirItems) {
  env["KBC_PASSWORD"] = kAdmin;
  const std::tuple<std::string, std::string, std::string> rows[] = {
      {"voice", "on", "打开语音提示成功!"},       {"voice", "OFF", "关闭语音提示成功!"},
      {"screen-off", "never", "不关屏设置成功!"}, {"segment", "30min", "录像分段30分钟设置成功"},
      {"ir", "Manual", "手动红外设置成功!"},      {"brightness", "low", "屏亮度低设置成功!"},
  };
  for (const auto& [command, alias, report] : rows) {
    EXPECT_EQ(kbcctl({command, alias}), kSucceeded);
    EXPECT_THAT(output(), ElementsAre(report));
  }
}

TEST_F(ApplyTest, EachRecorderReachedIsOneEntryAndASimulatedOneNone) {
  FakeTrail trail;
  journal.trail = &trail;
  drawer();
  EXPECT_EQ(kbcctl({"--all", "apply", profile_}), kSucceeded);
  ASSERT_EQ(trail.entries.size(), 3u);
  std::vector<std::string> serials;
  for (const console::AuditEntry& entry : trail.entries) {
    EXPECT_EQ(entry.action, "apply");
    EXPECT_EQ(entry.value, "video=1920X1080(30), segment=10分钟, motion=关闭, unit-name=龙华分局");
    EXPECT_EQ(entry.outcome, console::AuditOutcome::ok);
    EXPECT_EQ(entry.report.size(), 5u);
    EXPECT_EQ(entry.report.back(), "设置单位名称成功");
    serials.push_back(entry.serial.value_or("-"));
  }
  std::sort(serials.begin(), serials.end());
  EXPECT_THAT(serials, ElementsAre("KBC0001", "KBC0002", "KBC0003"));

  trail.entries.clear();
  EXPECT_EQ(kbcctl({"--simulate", "apply", profile_}), kSucceeded);
  EXPECT_THAT(trail.entries, IsEmpty());
}

TEST_F(ApplyTest, AWrongPasswordIsEnteredRefusedAndAChosenRecorderGoneAsNoRecorder) {
  FakeTrail trail;
  journal.trail = &trail;
  env["KBC_PASSWORD"] = kWrong;
  EXPECT_EQ(kbcctl({"apply", profile_}), kFailed);
  ASSERT_EQ(trail.entries.size(), 1u);
  EXPECT_EQ(trail.entries[0].outcome, console::AuditOutcome::refused);
  EXPECT_EQ(trail.entries[0].report, Lines{"密码错误!"});

  trail.entries.clear();
  env["KBC_PASSWORD"] = kAdmin;
  EXPECT_EQ(kbcctl({"--device", "001/009", "apply", profile_}), kNoRecorder);
  ASSERT_EQ(trail.entries.size(), 1u);
  EXPECT_EQ(trail.entries[0].location, "001/009");
  EXPECT_EQ(trail.entries[0].outcome, console::AuditOutcome::no_recorder);
  EXPECT_EQ(trail.entries[0].report, Lines{"重新连接!"});

  // A password the pre-check refuses sends nothing and enters nothing.
  trail.entries.clear();
  env["KBC_PASSWORD"] = "12345";
  EXPECT_EQ(kbcctl({"apply", profile_}), kUsage);
  EXPECT_THAT(trail.entries, IsEmpty());
}

}  // namespace
}  // namespace kbc::cli::testing
