#include <gmock/gmock.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "cli/options.h"
#include "cli_fixture.h"
#include "console/setting_tables.h"
#include "link/trace.h"
#include "offload/health.h"
#include "recorder_disk.h"

namespace kbc::cli::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

const Lines kInfoLines{"设备序列号:KBC0001", "用户编号:000001", "用户名称:张三",
                       "单位编号:440300000000", "单位名称:深圳市公安局"};

struct Outcome {
  std::string_view name;
  std::vector<std::string> args;
  std::string_view password;
  int status;
  Lines lines;
};

void PrintTo(const Outcome& row, std::ostream* os) {
  *os << row.name;
}

const Outcome kOutcomes[] = {
    {"VerifyAdmin", {"verify"}, kAdmin, kSucceeded, {"成功设置系统时间:2024-3-5 7:8:9"}},
    {"VerifyNormal", {"verify"}, kNormal, kSucceeded, {"成功设置系统时间:2024-3-5 7:8:9"}},
    {"VerifyWrong", {"verify"}, kWrong, kFailed, {"密码错误!"}},
    {"VerifyShort", {"verify"}, "88888", kUsage, {"密码长度有误!"}},
    {"VerifyUnencodable", {"verify"}, "88888😀", kUsage, {"密码长度有误!"}},
    // 888, a tag character, 888: never sent as 888888.
    {"VerifyTagCharacter",
     {"verify"},
     "888\xf3\xa0\x81\xa0"
     "888",
     kUsage,
     {"密码长度有误!"}},
    {"Msdc",
     {"msdc"},
     kNormal,
     kSucceeded,
     {"设置移动U盘成功.", "要再次使用本软件功能,请断开USB连接，重新连接!"}},
    {"VideoNeedsEither",
     {"video", "848X480(30)"},
     kNormal,
     kSucceeded,
     {"录像尺寸设置为848X480(30)成功!"}},
    {"SegmentNeedsAdmin", {"segment", "关闭"}, kNormal, kFailed, {"密码错误!"}},
    {"SegmentEmptyPassword", {"segment", "关闭"}, "", kUsage, {"密码长度有误!"}},
    {"Info", {"info"}, kNormal, kSucceeded, kInfoLines},
    {"InfoWrong", {"info"}, kWrong, kFailed, {"密码错误!"}},
    {"UserName", {"user-name", "李四"}, kAdmin, kSucceeded, {"设置用户名称成功"}},
    {"UserNameEmpty", {"user-name", ""}, kAdmin, kFailed, {"用户名称设置为空!"}},
    {"UnitNumberWrong", {"unit-number", "A1"}, kNormal, kFailed, {"密码错误!"}},
};

class OutcomeTest : public CliTest, public ::testing::WithParamInterface<Outcome> {};

TEST_P(OutcomeTest, PrintsTheReportsAndExitsWithTheirStatus) {
  env["KBC_PASSWORD"] = std::string(GetParam().password);
  EXPECT_EQ(kbcctl(GetParam().args), GetParam().status);
  EXPECT_EQ(output(), GetParam().lines);
  EXPECT_EQ(err.str(), "");
  EXPECT_EQ(usb_bus.open_handles(), 0);
}

INSTANTIATE_TEST_SUITE_P(Commands, OutcomeTest, ::testing::ValuesIn(kOutcomes),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CliTest, NoRecorderReachedIsExitFour) {
  env["KBC_PASSWORD"] = kAdmin;
  usb.unplug();
  EXPECT_EQ(kbcctl({"verify"}), kNoRecorder);
  EXPECT_THAT(output(), ElementsAre("重新连接!"));
  usb.reconnect();
  usb.fail_configuration(-EACCES);  // access denied
  EXPECT_EQ(kbcctl({"info"}), kNoRecorder);
  EXPECT_THAT(output(), ElementsAre("重新连接!"));
}

TEST_F(CliTest, RefusalIsAFailure) {
  env["KBC_PASSWORD"] = kAdmin;
  usb.state().pre_recording = true;
  EXPECT_EQ(kbcctl({"motion", "打开"}), kFailed);
  EXPECT_THAT(output(), ElementsAre("请先关闭预录!"));
}

TEST_F(CliTest, SimulateUsesTheSimulatedRecorder) {
  env["KBC_PASSWORD"] = kAdmin;
  EXPECT_EQ(kbcctl({"--simulate", "brightness", "低"}), kSucceeded);
  EXPECT_EQ(simulated.state().brightness, "set_brightness_low");
  EXPECT_TRUE(usb_bus.wire().empty());

  EXPECT_EQ(kbcctl({"brightness", "高"}), kSucceeded);
  EXPECT_EQ(usb.state().brightness, "set_brightness_high");
  EXPECT_EQ(simulated.state().brightness, "set_brightness_low");
}

TEST_F(CliTest, MessageBoxesArePrintedInOrderWithTheLines) {
  env["KBC_PASSWORD"] = kAdmin;
  // get_sn fails in both of its tries, which the console reports in a message box.
  usb.inject({.kind = sim::Fault::Kind::error, .letter = 'J', .occurrence = 1});
  usb.inject({.kind = sim::Fault::Kind::error, .letter = 'J', .occurrence = 2});
  EXPECT_EQ(kbcctl({"user-number", "A7"}), kSucceeded);
  EXPECT_THAT(output(), ElementsAre("设置用户编号成功", "重新连接!"));
}

// --- erase ---

TEST_F(CliTest, EraseWithYesAnswersBothQuestions) {
  env["KBC_PASSWORD"] = kAdmin;
  EXPECT_EQ(kbcctl({"erase", "--yes"}, false), kSucceeded);
  EXPECT_THAT(output(), ElementsAre("所有资料将会被消除!", "清除文件成功"));
  EXPECT_EQ(usb.state().erase_count, 1);
  EXPECT_THAT(terminal.questions, IsEmpty());
}

TEST_F(CliTest, EraseAsksBothQuestionsOnTheTerminal) {
  env["KBC_PASSWORD"] = kAdmin;
  terminal.answers = {true, true};
  EXPECT_EQ(kbcctl({"erase"}), kSucceeded);
  EXPECT_THAT(terminal.questions,
              ElementsAre("清除所有文件: 此操作将清除所有文件资料，请确认资料是否已备份？\n"
                          "该记录仪没有已验证的导出记录。",
                          "清除所有文件: 请再次确认是否进行清除操作？"));
  EXPECT_EQ(usb.state().erase_count, 1);
}

TEST_F(CliTest, EraseStopsAtTheSecondNo) {
  env["KBC_PASSWORD"] = kAdmin;
  terminal.answers = {true, false};
  EXPECT_EQ(kbcctl({"erase"}), kFailed);
  EXPECT_THAT(output(), ElementsAre("清除操作取消!"));
  EXPECT_EQ(usb.state().erase_count, 0);
}

TEST_F(CliTest, EraseWithoutTerminalAnswersNo) {
  env["KBC_PASSWORD"] = kAdmin;
  EXPECT_EQ(kbcctl({"erase"}, false), kFailed);
  EXPECT_THAT(output(), ElementsAre("清除操作取消!"));
  // The serial number for the question's word on the recorder's offloads, then the erase.
  EXPECT_EQ(usb.letters(), "J3");
  EXPECT_EQ(usb.state().erase_count, 0);
}

// The station's own rule holds whatever the user names: a weaker erase rule is said and the
// station's refuses; the store it names is the one the erase asks.
TEST_F(CliTest, TheStationsOwnEraseRuleHoldsOverTheUsersFileAndStore) {
  const evidence::testing::Scratch scratch;
  system_station = scratch / "system.toml";
  std::ofstream(system_station) << "store = \"" << (scratch / "station-store").string()
                                << "\"\nerase = \"require-offload\"\noffload-window = \"2h\"\n";
  std::ofstream(scratch / "mine.toml") << "erase = \"warn\"\n";
  env["KBC_STATION_FILE"] = (scratch / "mine.toml").string();
  env["KBC_PASSWORD"] = kAdmin;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--yes", "erase"},
        std::vector<std::string>{"--yes", "--store", (scratch / "elsewhere").string(), "erase"}}) {
    EXPECT_EQ(kbcctl(args, false), kFailed);
    EXPECT_THAT(output(), ElementsAre("按本站规定，最近2小时内没有该记录仪已验证的导出，不能清除! "
                                      "请先导出录像。"));
    EXPECT_THAT(err.str(), HasSubstr("weaker than the station's erase = \"require-offload\""));
    EXPECT_EQ(usb.state().erase_count, 0);
  }
}

// check: 0 intact and confirmed by the journal, 1 damaged, 5 intact but unconfirmed, so that a
// station without the journal still sees an intact bag as intact.
TEST_F(CliTest, CheckTellsIntactFromDamagedAndFromUnconfirmed) {
  const evidence::testing::Scratch scratch;
  const std::filesystem::path image = scratch / "disk.img";
  evidence::testing::make_fat32(image, {{"DCIM/A.MP4", evidence::testing::pattern(5000, 1)}});
  const std::string store = (scratch / "store").string();
  ASSERT_EQ(kbcctl({"--json", "offload", "--from", image.string(), "--serial", "KBC0001", "--store",
                    store},
                   false),
            kSucceeded)
      << err.str();
  const std::string receipt = output().back();
  const std::size_t at = receipt.find("\"bag\":\"") + 7;
  const std::filesystem::path bag = receipt.substr(at, receipt.find('"', at) - at);
  EXPECT_EQ(kbcctl({"check", bag.string()}, false), kUnconfirmed);
  EXPECT_THAT(output().front(),
              HasSubstr(": manifests match (1 files, 5000 bytes), not confirmed"));
  std::filesystem::permissions(bag / "data/DCIM/A.MP4", std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  std::ofstream(bag / "data/DCIM/A.MP4", std::ios::app) << "x";
  EXPECT_EQ(kbcctl({"check", bag.string()}, false), kFailed);
  EXPECT_THAT(output(), ::testing::Contains("  changed: data/DCIM/A.MP4"));
}

// status: the store's room against the station's mark, the recorders overdue, and the same as
// metrics that Prometheus's own checker takes; exit 1 while something needs attention.
TEST_F(CliTest, StatusSaysWhatNeedsAttentionInTextJsonAndMetrics) {
  const evidence::testing::Scratch scratch;
  const std::filesystem::path image = scratch / "disk.img";
  evidence::testing::make_fat32(image, {{"DCIM/A.MP4", evidence::testing::pattern(5000, 1)}});
  const std::string store = (scratch / "store").string();
  ASSERT_EQ(
      kbcctl({"offload", "--from", image.string(), "--serial", "KBC0001", "--store", store}, false),
      kSucceeded);
  FakeTrail trail;
  journal.trail = &trail;
  for (const auto& [low, status, said] : {std::tuple{"99%", kFailed, "the store is low on space"},
                                          std::tuple{"1K", kSucceeded, "store: "}}) {
    SCOPED_TRACE(low);
    std::ofstream(scratch / "station.toml") << "low-space = \"" << low << "\"\n";
    env["KBC_STATION_FILE"] = (scratch / "station.toml").string();
    EXPECT_EQ(kbcctl({"--store", store, "status"}, false), status);
    EXPECT_THAT(out.str(), HasSubstr(said));
    EXPECT_THAT(out.str(), HasSubstr("1 bags"));
    EXPECT_EQ(std::filesystem::exists(std::filesystem::path(store) / ".low-space"),
              status == kFailed);
    // One warning in the journal for the crossing, however many runs find it low.
    EXPECT_EQ(trail.entries.size(), 1u);
    EXPECT_EQ(trail.entries.front().action, "low-space");
    EXPECT_EQ(kbcctl({"--store", store, "--json", "status"}, false), status);
    EXPECT_THAT(out.str(), HasSubstr("\"bags\":1,"));
    EXPECT_EQ(kbcctl({"--store", store, "--prometheus", "status"}, false), status);
    EXPECT_THAT(out.str(), HasSubstr(std::string("\nkbc_store_low_space ") +
                                     (status == kFailed ? "1" : "0") + "\n"));
    if (::access("/usr/bin/promtool", X_OK) == 0) {
      std::ofstream(scratch / "metrics.prom") << out.str();
      EXPECT_EQ(
          std::system(("promtool check metrics < " + (scratch / "metrics.prom").string()).c_str()),
          0);
    }
  }
  // A day and more on, the recorder offloaded is overdue.
  const auto read = offload::read_station(
      {KBC_TEST_STATION, [](std::string_view) { return std::optional<std::string>(); }});
  const auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
  const auto health =
      offload::station_health(std::get<offload::Station>(read), evidence::Store(store), nullptr,
                              now + std::chrono::hours(25));
  ASSERT_EQ(health.overdue.size(), 1u);
  EXPECT_EQ(health.overdue.front().serial, "KBC0001");
  EXPECT_TRUE(offload::station_health(std::get<offload::Station>(read), evidence::Store(store),
                                      nullptr, now)
                  .overdue.empty());
}

// --- passwd ---

TEST_F(CliTest, PasswdTakesTheDialogFieldsFromTheFile) {
  in.str("888888\n888888\nabc123\nabc123\n");
  EXPECT_EQ(kbcctl({"--password-file", "-", "passwd"}), kSucceeded);
  EXPECT_THAT(output(), ElementsAre("修改密码成功!"));
  EXPECT_EQ(usb.state().admin_password, "abc123");
  EXPECT_EQ(usb.state().normal_password, kNormal);
}

TEST_F(CliTest, PasswdPromptsForTheDialogFieldsUnderItsTitle) {
  env["KBC_PASSWORD"] = kNormal;
  terminal.secrets = {"000000", "N3wPas", "N3wPas"};
  EXPECT_EQ(kbcctl({"passwd"}), kSucceeded);
  EXPECT_THAT(terminal.notes, ElementsAre("普通密码修改"));
  EXPECT_THAT(terminal.prompts,
              ElementsAre("Old password: ", "New password: ", "New password again: "));
  EXPECT_EQ(usb.state().normal_password, "N3wPas");
}

TEST_F(CliTest, PasswdWithAWrongPasswordOpensNoDialog) {
  env["KBC_PASSWORD"] = kWrong;
  EXPECT_EQ(kbcctl({"passwd"}), kFailed);
  EXPECT_THAT(output(), ElementsAre("密码错误!"));
  EXPECT_THAT(terminal.prompts, IsEmpty());
}

TEST_F(CliTest, PasswdReportsTheConflict) {
  in.str("888888\n888888\n000000\n000000\n");
  EXPECT_EQ(kbcctl({"--password-file", "-", "passwd"}), kFailed);
  EXPECT_THAT(output(), ElementsAre("密码冲突，请使用其它密码!"));
  EXPECT_EQ(usb.state().admin_password, kAdmin);
}

TEST_F(CliTest, PasswdFieldFilterEmptiesTheField) {
  in.str("888888\n888888\n12 456\n12 456\n");
  EXPECT_EQ(kbcctl({"--password-file", "-", "passwd"}), kFailed);
  EXPECT_THAT(output(),
              ElementsAre("仅支持数字或大小写字母!", "仅支持数字或大小写字母!", "请输入新密码!"));
  EXPECT_EQ(usb.state().admin_password, kAdmin);
}

TEST_F(CliTest, PasswdCancelledAtAPromptSendsNoChange) {
  env["KBC_PASSWORD"] = kAdmin;
  terminal.secrets = {"888888"};
  EXPECT_EQ(kbcctl({"passwd"}), kFailed);
  EXPECT_THAT(err.str(), HasSubstr("password change cancelled"));
  EXPECT_EQ(usb.letters(), "-3");
}

// --- info --json ---

TEST_F(CliTest, InfoJsonPrintsOneObjectInsteadOfTheLines) {
  env["KBC_PASSWORD"] = kAdmin;
  EXPECT_EQ(kbcctl({"info", "--json"}), kSucceeded);
  EXPECT_EQ(out.str(), R"({"serial_number":"KBC0001","user_number":"000001","user_name":"张三",)"
                       R"("unit_number":"440300000000","unit_name":"深圳市公安局"})"
                       "\n");
}

TEST_F(CliTest, InfoJsonEscapesWhatTheRecorderHolds) {
  env["KBC_PASSWORD"] = kAdmin;
  usb.state().identity = usb.state().identity.with_field(
      link::IdentityField::user_name, link::GbkText::from_bytes("\"\\\n\x01\xff\xfe"));
  EXPECT_EQ(kbcctl({"--json", "info"}), kSucceeded);
  EXPECT_THAT(out.str(), HasSubstr(R"("user_name":"\"\\\n\u0001)"
                                   "\xEF\xBF\xBD\xEF\xBF\xBD"
                                   R"(",)"));
}

TEST_F(CliTest, InfoJsonFailureIsAnObjectWithTheReportLines) {
  env["KBC_PASSWORD"] = kWrong;
  EXPECT_EQ(kbcctl({"info", "--json"}), kFailed);
  EXPECT_EQ(out.str(), "{\"ok\":false,\"lines\":[\"密码错误!\"]}\n");
}

// --- trace, help, version ---

TEST_F(CliTest, TraceGoesToStandardErrorWithVerboseOnly) {
  env["KBC_PASSWORD"] = kAdmin;
  Lines traced;
  const link::TraceSink previous =
      link::set_trace_sink([&](std::string_view line) { traced.emplace_back(line); });

  EXPECT_EQ(kbcctl({"verify"}), kSucceeded);
  EXPECT_EQ(err.str(), "");
  EXPECT_EQ(output().size(), 1u);

  EXPECT_EQ(kbcctl({"-v", "verify"}), kSucceeded);
  EXPECT_THAT(err.str(), HasSubstr("Busses found: 1\n"));
  EXPECT_EQ(output().size(), 1u);

  EXPECT_THAT(traced, IsEmpty());
  link::set_trace_sink(previous);
}

TEST_F(CliTest, HelpListsEveryCommandWithItsTexts) {
  EXPECT_EQ(kbcctl({"--help"}), kSucceeded);
  const std::string help = out.str();
  for (const Command& command : commands()) {
    EXPECT_THAT(help, HasSubstr("\n  " + std::string(command.name) + " ")) << command.name;
  }
  for (const console::SettingButton& button : console::setting_buttons()) {
    for (const console::Setting& row : button.rows) {
      EXPECT_THAT(help, HasSubstr(std::string(row.text))) << row.text;
    }
  }
  for (std::string_view part : {"KBC_PASSWORD", "--password-file", "list [--json]", "--device",
                                "--serial", "--simulate[=N]", "Exit status", "  0  ", "  1  ",
                                "  2  usage", "  3  several recorders"}) {
    EXPECT_THAT(help, HasSubstr(std::string(part)));
  }
  EXPECT_TRUE(usb_bus.wire().empty());
}

TEST_F(CliTest, VersionIsTheProjectVersion) {
  EXPECT_EQ(kbcctl({"--version"}), kSucceeded);
  EXPECT_EQ(out.str(), std::string("kbcctl ") + KBC_VERSION + "\n");
}

}  // namespace
}  // namespace kbc::cli::testing
