// The main window itself, headless, through the real libusb 0.1 against recorders on the emulated
// bus: one click on "验证密码" per window, what the pane and the buttons show afterwards and the
// bytes that reach the recorder; and a window that follows recorders plugged in and pulled out
// through udev, with a pick that alone gets the commands.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "command_wire.h"
#include "emulated_run.h"
#include "recorder_disk.h"

namespace kbc::emulated {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::StartsWith;

const std::string kFrameClick = KBC_FRAME_CLICK;
const std::string kFrameDrawer = KBC_FRAME_DRAWER;

// The buttons of the settings bar in template order; 1012 and 1016 have no flag.
const std::string kAllButtons =
    " 1012 1019 1052 1016 1026 1076 1078 1141 1095 1143 1092 1145 1112 1111 1114 1109 1107";

struct Click {
  std::string password;
  std::string pane;
  std::string enabled;
  std::string disabled;
  // The command payloads in order, without their zero fill: the serial number for the status bar
  // first, then the click's.
  std::vector<std::string> sent;
};

TEST(FrameOnBus, AVerificationClickEnablesWhatThePasswordAllowsAndSetsTheClock) {
  const std::vector<Click> clicks = {
      {"888888", kClockReport, kAllButtons, "", {"J", "-888888", "3888888", "E888888", kSetTime}},
      {"000000",
       kClockReport,
       " 1012 1019 1016",
       " 1052 1026 1076 1078 1141 1095 1143 1092 1145 1112 1111 1114 1109 1107",
       {"J", "-000000", "3000000", "E000000", kSetTime}},
      {"123456",
       "密码错误!",
       " 1012 1016",
       " 1019 1052 1026 1076 1078 1141 1095 1143 1092 1145 1112 1111 1114 1109 1107",
       {"J", "-123456", "3123456", "E123456"}},
  };
  const ScratchDir scratch;
  const std::string wire_path = scratch.file("wire.txt");
  std::vector<std::string> options{"--wire", wire_path, "--"};
  for (const Click& click : clicks) {
    if (options.back() != "--") {
      options.push_back("--then");
    }
    options.insert(options.end(), {kFrameClick, click.password});
  }
  const std::string before = local_digits();
  const BusRun run = run_on_bus(options);
  const std::string after = local_digits();
  ASSERT_TRUE(run.started) << run.errors;
  const auto wire = read_wire(wire_path);
  ASSERT_TRUE(wire) << "the wire file does not parse";
  expect_transfers_as_the_link_sends_them(*wire);

  std::vector<std::string> shown, exited;
  for (std::size_t i = 0; i < clicks.size(); ++i) {
    SCOPED_TRACE("window " + std::to_string(i));
    const Click& click = clicks[i];
    const int step = static_cast<int>(i);
    exited.push_back(format(ExitLine{step, 0}));
    const std::vector<std::string> sent = payloads(*wire, step);
    ASSERT_EQ(sent.size(), click.sent.size()) << run.output << run.errors;
    std::string time;
    for (std::size_t k = 0; k < sent.size(); ++k) {
      if (click.sent[k] == kSetTime) {
        time = sent_time(sent[k], before, after);
      } else {
        EXPECT_EQ(sent[k], padded(click.sent[k])) << "payload " << k;
      }
    }
    // The pane names the recorder first, so that what follows reads under it.
    shown.push_back("pane: 记录仪 KBC0001 (001/003):");
    shown.push_back("pane: " + (click.pane == kClockReport ? clock_report(time) : click.pane));
    shown.push_back("enabled:" + click.enabled);
    shown.push_back("disabled:" + click.disabled);
  }
  EXPECT_THAT(lines(run.output), ElementsAreArray(shown)) << run.errors;
  EXPECT_THAT(exits(*wire), ElementsAreArray(exited));
}

// The command payloads each recorder got, in order, without their zero fill.
std::map<std::string, std::vector<std::string>> payloads_by_node(const Wire& wire) {
  std::map<std::string, std::vector<std::string>> sent;
  for (const ControlLine& c : wire.controls) {
    if (c.type == 0x40) {
      std::string payload(c.data.begin(), c.data.end());
      // The clock's text ends in a line feed before its zero fill.
      payload.erase(payload.find_last_not_of('\0') + 1);
      sent[c.node].push_back(payload);
    }
  }
  return sent;
}

class FrameDrawer : public BusTest {};

TEST_F(FrameDrawer, TheStatusBarFollowsTheHubAndOnlyThePickedRecorderGetsCommands) {
  const std::string fifo = scratch_.file("control");
  // A mouse first: the window hears only of the recorder after it.
  const BusRun r =
      run_recorded({"--control", fifo, "--bus", "mouse,recorder=KBC0001", "--", kFrameDrawer, fifo,
                    "add mouse\nadd recorder=KBC0002", "verify 888888", "pick 1", "verify 888888",
                    "remove 001/005", "verify 888888", "remove 001/003"});
  ASSERT_EQ(r.status, 0) << r.output << r.errors;
  EXPECT_THAT(lines(r.output),
              ElementsAre("status: 记录仪 KBC0001 (001/003)", "heard: 001/005",
                          "status: 记录仪： | KBC0001 (001/003) KBC0002 (001/005)",
                          // Two recorders and none picked: nothing is sent.
                          "pane: 连接了多台记录仪，请先选择一台!",
                          "status: 记录仪： | KBC0001 (001/003) [KBC0002 (001/005)]",
                          StartsWith("pane: 成功设置系统时间:"), "heard: 001/005",
                          // The picked one gone: never the one left instead.
                          "status: 所选记录仪 KBC0002 (001/005) 已断开 | KBC0001 (001/003)",
                          "pane: 重新连接!", "heard: 001/003",
                          "status: 所选记录仪 KBC0002 (001/005) 已断开"))
      << r.errors;

  const Wire record = wire();
  expect_transfers_as_the_link_sends_them(record);
  const auto sent = payloads_by_node(record);
  // Each recorder's serial number once, as it arrived; the verification to the picked one alone.
  EXPECT_THAT(sent.at("001/003"), ElementsAre("J"));
  ASSERT_EQ(sent.at("001/005").size(), 5u);
  EXPECT_THAT(std::vector(sent.at("001/005").begin(), sent.at("001/005").begin() + 4),
              ElementsAre("J", "-888888", "3888888", "E888888"));
  EXPECT_THAT(sent.at("001/005").back(), StartsWith("6"));
  EXPECT_EQ(sent.size(), 2u);
  EXPECT_THAT(record.uevents, ElementsAre(UeventLine{0, "001/004", 0x046d, "add"},
                                          UeventLine{0, "001/005", 0x4255, "add"},
                                          UeventLine{0, "001/005", 0x4255, "remove"},
                                          UeventLine{0, "001/003", 0x4255, "remove"}));
}

// The window's offload of the recorder the buttons talk to: the switch on the console thread, the
// disk read in the offload panel, which shows the recorder's row verified, and the receipt in the
// pane under the recorder's name.
TEST(FrameOnBus, TheWindowsOffloadReadsTheRecordersDiskIntoAVerifiedBag) {
  const ScratchDir scratch;
  const std::filesystem::path disk = scratch.file("disk.img");
  evidence::testing::make_fat32(disk, {{"DCIM/V0001.MP4", evidence::testing::pattern(400000, 4)}});
  const std::string store = scratch.file("store");
  const BusRun run = run_on_bus({"--disk", disk.string(), "--stray-disk", disk.string(), "--",
                                 KBC_FRAME_OFFLOAD, store, "000000"});
  ASSERT_TRUE(run.started) << run.errors;
  EXPECT_EQ(run.status, 0) << run.errors;
  const std::vector<std::string> shown = lines(run.output);
  EXPECT_THAT(shown, Contains(StartsWith("row: KBC0001 (001/003) | 张三 000001 | 1/1 | ")));
  EXPECT_THAT(shown, Contains(::testing::EndsWith("| 已验证")));
  EXPECT_THAT(shown, Contains("pane: 开始导出录像: 1台记录仪"));
  EXPECT_THAT(shown, Contains("pane: 记录仪 KBC0001 (001/003):"));
  EXPECT_THAT(shown,
              Contains(StartsWith("pane: 导出已验证: " + store + "/440300000000/000001/KBC0001_")));
}

}  // namespace
}  // namespace kbc::emulated
