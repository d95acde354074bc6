// kbcctl itself, through the real libusb 0.1, against the recorder on the emulated bus: what it
// prints, its exit status and the bytes that reach the recorder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "command_wire.h"
#include "emulated_run.h"

namespace kbc::emulated {
namespace {

using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using Lines = std::vector<std::string>;

const std::string kKbcctl = KBC_KBCCTL;

// The emulated recorder's passwords, and one it does not have.
const std::string kAdmin = "888888";
const std::string kNormal = "000000";
const std::string kWrong = "123456";

// What the emulated recorder holds from the start, in GBK.
const std::string kSerial = "KBC0001";
const std::string kUserNumber = "000001";
const std::string kUserName = "\xd5\xc5\xc8\xfd";  // 张三
const std::string kUnitNumber = "440300000000";
// 深圳市公安局龙岗分局, 20 bytes
const std::string kLonggang =
    "\xc9\xee\xdb\xda\xca\xd0\xb9\xab\xb0\xb2\xbe\xd6\xc1\xfa\xb8\xda\xb7\xd6\xbe\xd6";

struct Step {
  std::string passwords;  // the lines of the password file
  std::vector<std::string> args;
  Lines reports;  // standard output
  int status;
  std::vector<std::string> sent;  // the command payloads in order, without their zero fill
};

// `text` and fill up to an identity field's width.
std::string field(const std::string& text, std::size_t width) {
  return text + std::string(width - text.size(), '=');
}

std::string record(const std::string& user_number, const std::string& unit_name) {
  return kSerial + field(user_number, 6) + field(kUserName, 32) + kUnitNumber +
         field(unit_name, 32);
}

class KbcctlOnBus : public ::testing::Test {
 protected:
  // Runs the steps one after another in one bus run and checks each one's reports, exit status
  // and payloads, and that every transfer went to the recorder as the link sends it.
  void run_steps(std::vector<std::string> options, const std::vector<Step>& steps) {
    options.insert(options.begin(), {"--wire", wire_path_});
    options.push_back("--");
    for (std::size_t i = 0; i < steps.size(); ++i) {
      const std::string passwords = scratch_.file("passwords-" + std::to_string(i));
      std::ofstream(passwords) << steps[i].passwords << '\n';
      if (i > 0) {
        options.push_back("--then");
      }
      options.insert(options.end(), {kKbcctl, "--password-file", passwords});
      options.insert(options.end(), steps[i].args.begin(), steps[i].args.end());
    }
    const std::string before = local_digits();
    run_ = run_on_bus(options);
    const std::string after = local_digits();
    ASSERT_TRUE(run_.started) << run_.errors;
    const auto parsed = read_wire(wire_path_);
    ASSERT_TRUE(parsed) << "the wire file does not parse";
    wire_ = *parsed;
    expect_transfers_as_the_link_sends_them(wire_);

    Lines reports;
    std::vector<std::string> exited;
    for (std::size_t i = 0; i < steps.size(); ++i) {
      SCOPED_TRACE("step " + std::to_string(i));
      const int step = static_cast<int>(i);
      exited.push_back(format(ExitLine{step, steps[i].status}));
      const std::vector<std::string> sent = payloads(wire_, step);
      ASSERT_EQ(sent.size(), steps[i].sent.size()) << run_.output << run_.errors;
      std::string time;
      for (std::size_t k = 0; k < sent.size(); ++k) {
        const std::string& expected = steps[i].sent[k];
        if (expected == kSetTime) {
          time = sent_time(sent[k], before, after);
        } else {
          EXPECT_EQ(sent[k], padded(expected)) << "payload " << k;
        }
      }
      for (const std::string& report : steps[i].reports) {
        reports.push_back(report == kClockReport ? clock_report(time) : report);
      }
    }
    EXPECT_THAT(lines(run_.output), ElementsAreArray(reports)) << run_.errors;
    EXPECT_THAT(exits(wire_), ElementsAreArray(exited));
  }

  // The IN transfers of one step.
  std::vector<ControlLine> replies(int step) const {
    std::vector<ControlLine> result;
    for (const ControlLine& c : wire_.controls) {
      if (c.step == step && c.type == 0xc0) {
        result.push_back(c);
      }
    }
    return result;
  }

  ScratchDir scratch_;
  std::string wire_path_ = scratch_.file("wire.txt");
  BusRun run_;
  Wire wire_;
};

TEST_F(KbcctlOnBus, VerifyChecksBothPasswordsAndSetsTheClockOnAMatch) {
  run_steps({},
            {
                {kAdmin,
                 {"verify"},
                 {kClockReport},
                 0,
                 {"-" + kAdmin, "3" + kAdmin, "E" + kAdmin, kSetTime}},
                {kNormal,
                 {"verify"},
                 {kClockReport},
                 0,
                 {"-" + kNormal, "3" + kNormal, "E" + kNormal, kSetTime}},
                {kWrong, {"verify"}, {"密码错误!"}, 1, {"-" + kWrong, "3" + kWrong, "E" + kWrong}},
            });
}

TEST_F(KbcctlOnBus, EachSettingAndEraseSendTheirCommandAfterTheAdministratorPassword) {
  const std::string check = "3" + kAdmin;
  run_steps({},
            {
                {kAdmin,
                 {"video", "1920X1080(30)"},
                 {"录像尺寸设置为1920X1080(30)成功!"},
                 0,
                 {"-" + kAdmin, check, "H"}},
                {kAdmin, {"segment", "10分钟"}, {"录像分段10分钟设置成功"}, 0, {check, "r"}},
                {kAdmin, {"photo", "2688X1512"}, {"拍照大小设置为2688X1512成功!"}, 0, {check, "f"}},
                {kAdmin, {"brightness", "高"}, {"屏亮度高设置成功!"}, 0, {check, "="}},
                {kAdmin, {"screen-off", "关闭"}, {"不关屏设置成功!"}, 0, {check, "?"}},
                {kAdmin, {"ir", "自动"}, {"自动红外设置成功!"}, 0, {check, "u"}},
                {kAdmin, {"voice", "打开"}, {"打开语音提示成功!"}, 0, {check, "]1"}},
                {kAdmin, {"motion", "关闭"}, {"关闭移动侦测成功!"}, 0, {check, ","}},
                // The erase reads the serial number first, for the question's word on offloads.
                {kAdmin,
                 {"--yes", "erase"},
                 {"所有资料将会被消除!", "清除文件成功"},
                 0,
                 {"J", check, "N"}},
            });
}

TEST_F(KbcctlOnBus, TheRecorderRefusesMotionDuringPreRecordingAndGatesTheNormalPassword) {
  run_steps({"--pre-recording"},
            {
                {kAdmin, {"motion", "打开"}, {"请先关闭预录!"}, 1, {"3" + kAdmin, "0"}},
                {kNormal,
                 {"video", "1280X720(60)"},
                 {"录像尺寸设置为1280X720(60)成功!"},
                 0,
                 {"-" + kNormal, "3" + kNormal, "S"}},
                {kNormal, {"photo", "2688X1512"}, {"密码错误!"}, 1, {"3" + kNormal}},
                {kNormal, {"--yes", "erase"}, {"密码错误!"}, 1, {"J", "3" + kNormal}},
            });
}

TEST_F(KbcctlOnBus, IdentityEditsRewriteTheWholeRecordAndInfoShowsThem) {
  const std::string check = "3" + kAdmin;
  const std::string shown = "-" + kAdmin;
  run_steps(
      {}, {
              // The read carries the new text, cut to what its payload holds.
              {kAdmin,
               {"unit-name", "深圳市公安局龙岗分局"},
               {"设置单位名称成功"},
               0,
               {check, "}" + kLonggang.substr(0, 17), "{" + record(kUserNumber, kLonggang)}},
              // Then the officer identifier: the serial text (its first 9 bytes), "-", the
              // user number.
              {kAdmin,
               {"user-number", "A17"},
               {"设置用户编号成功"},
               0,
               {check, "}A17", "{" + record("A17", kLonggang), "J", "}" + kAdmin, "FKBC0001-A17"}},
              {kAdmin,
               {"info"},
               {"设备序列号:KBC0001", "用户编号:A17", "用户名称:张三", "单位编号:440300000000",
                "单位名称:深圳市公安局龙岗分局"},
               0,
               {shown, check, "}"}},
              {kAdmin,
               {"info", "--json"},
               {R"({"serial_number":"KBC0001","user_number":"A17","user_name":"张三",)"
                R"("unit_number":"440300000000","unit_name":"深圳市公安局龙岗分局"})"},
               0,
               {shown, check, "}"}},
          });
}

// A rogue recorder's record: terminal controls and a forged report line in every field.
struct RogueField {
  std::string bytes;  // GBK, as the record holds it
  std::size_t width;
  std::string shown;  // after the line's label
  std::string json;   // the JSON string's inside
};

const RogueField kRogueFields[] = {
    {"K\x1b[2JX9", 7, R"(K\x1b[2JX9)", R"(K\u001b[2JX9)"},
    {"00\r\n01", 6, R"(00\x0d\x0a01)", R"(00\r\n01)"},
    // 设备序列号:FAKE99 after a line feed: a second serial-number line for a script to believe.
    {"X\n\xc9\xe8\xb1\xb8\xd0\xf2\xc1\xd0\xba\xc5:FAKE99", 32, R"(X\x0a设备序列号:FAKE99)",
     R"(X\n设备序列号:FAKE99)"},
    {"\a\x7f"
     "12\\5",
     12, R"(\x07\x7f12\\5)",
     "\\u0007\x7f"
     "12\\\\5"},
    // A window title set, then 深圳.
    {"\x1b]0;pwned\a\xc9\xee\xdb\xda", 32, R"(\x1b]0;pwned\x07深圳)",
     R"(\u001b]0;pwned\u0007深圳)"},
};

TEST_F(KbcctlOnBus, InfoShowsWhatARogueRecorderHoldsAsTextAndJsonStaysExact) {
  const char* const labels[] = {"设备序列号:", "用户编号:", "用户名称:", "单位编号:", "单位名称:"};
  const char* const keys[] = {"serial_number", "user_number", "user_name", "unit_number",
                              "unit_name"};
  std::string identity, json = "{";
  Lines shown;
  for (std::size_t i = 0; i < std::size(kRogueFields); ++i) {
    const RogueField& row = kRogueFields[i];
    identity += field(row.bytes, row.width);
    shown.push_back(labels[i] + row.shown);
    json += std::string(i ? "," : "") + "\"" + keys[i] + "\":\"" + row.json + "\"";
  }
  json += "}";
  const std::string file = scratch_.file("identity");
  std::ofstream(file, std::ios::binary) << identity;

  const std::vector<std::string> read{"-" + kAdmin, "3" + kAdmin, "}"};
  run_steps({"--identity", file},
            {{kAdmin, {"info"}, shown, 0, read}, {kAdmin, {"info", "--json"}, {json}, 0, read}});
}

TEST_F(KbcctlOnBus, AfterMassStorageTheRecorderAnswersNoCommand) {
  run_steps(
      {},
      {
          {kNormal,
           {"msdc"},
           {"设置移动U盘成功.", "要再次使用本软件功能,请断开USB连接，重新连接!"},
           0,
           {"-" + kNormal, "3" + kNormal, "2" + kNormal}},
          // Still on the bus, so the session opens, but every reply times out.
          {kNormal, {"verify"}, {"密码错误!"}, 1, {"-" + kNormal, "3" + kNormal, "E" + kNormal}},
      });
  ASSERT_EQ(replies(1).size(), 3u);
  for (const ControlLine& reply : replies(1)) {
    EXPECT_EQ(reply.result, -110) << format(reply);
  }
}

TEST_F(KbcctlOnBus, PasswdChangesTheNormalPasswordForTheNextCommands) {
  const std::string changed = "654321";
  run_steps(
      {},
      {
          // The role from the current password, then the dialog's old password, the
          // conflict check with the administrator's and the change.
          {kNormal + "\n" + kNormal + "\n" + changed + "\n" + changed,
           {"passwd"},
           {"修改密码成功!"},
           0,
           {"-" + kNormal, "3" + kNormal, "-" + kNormal, "3" + changed, "4" + changed}},
          {changed,
           {"verify"},
           {kClockReport},
           0,
           {"-" + changed, "3" + changed, "E" + changed, kSetTime}},
          {kNormal, {"verify"}, {"密码错误!"}, 1, {"-" + kNormal, "3" + kNormal, "E" + kNormal}},
      });
}

struct Fault {
  std::string name;
  std::vector<std::string> options;  // the bus's
  std::vector<Step> steps;
  std::string trace;  // on standard error
};

const Step kFindsNothing{kAdmin, {"verify"}, {"重新连接!"}, 4, {}};

const Fault kFaults[] = {
    {"no_recorder", {"--bus", "mouse"}, {kFindsNothing}, ""},
    {"denied",
     {"--denied"},
     {{kAdmin, {"-v", "verify"}, {"重新连接!"}, 4, {}}},
     "Access to the recorder on bus 001 device 003 was denied"},
    // Gone before the first command: the checks fail as a wrong password does.
    {"unplugged_while_verifying",
     {"--unplug-at", "1"},
     {{kAdmin, {"verify"}, {"密码错误!"}, 1, {"-" + kAdmin, "3" + kAdmin, "E" + kAdmin}},
      kFindsNothing},
     ""},
    {"unplugged_before_erasing",
     {"--unplug-at", "5"},
     {{kAdmin,
       {"--yes", "erase"},
       {"所有资料将会被消除!", "清除文件失败，请重新连接!"},
       1,
       {"J", "3" + kAdmin, "N"}},
      kFindsNothing},
     ""},
};

void PrintTo(const Fault& fault, std::ostream* out) {
  *out << fault.name;
}

class KbcctlOnAFaultyBus : public KbcctlOnBus, public ::testing::WithParamInterface<Fault> {};

TEST_P(KbcctlOnAFaultyBus, ReportsTheFaultAndSendsNoMore) {
  const Fault& fault = GetParam();
  run_steps(fault.options, fault.steps);
  if (!fault.trace.empty()) {
    EXPECT_THAT(run_.errors, HasSubstr(fault.trace));
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, KbcctlOnAFaultyBus, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace kbc::emulated
