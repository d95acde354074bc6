// kbcctl on a bus of several recorders: list, --device, --serial, and exit status 3 when no
// recorder is chosen among several.
#include <gmock/gmock.h>

#include "cli_fixture.h"

namespace kbc::cli::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

const std::string kChoose = "连接了多台记录仪，请先选择一台!";

// Recorder A (KBC0001, the fixture's), a mouse, an unopenable recorder, recorder B (KBC0002).
class DrawerTest : public CliTest {
 protected:
  DrawerTest() { env["KBC_PASSWORD"] = kAdmin; }
  sim::SimRecorder& others_then_recorder() {
    usb_bus.add_other_device(0x046d);
    usb_bus.add_unopenable_recorder();
    return usb_bus.add_recorder();
  }
  sim::SimRecorder& a = usb;
  sim::SimRecorder& b = others_then_recorder();
};

TEST_F(DrawerTest, ListShowsEveryRecorderInBusOrderWithItsSerialAndNeedsNoPassword) {
  env.clear();
  EXPECT_EQ(kbcctl({"list"}, false), kSucceeded);
  EXPECT_THAT(output(), ElementsAre("001/001\tKBC0001", "001/003\t-", "001/004\tKBC0002"));
  EXPECT_EQ(err.str(), "");
  EXPECT_EQ(a.letters(), "J");
  EXPECT_EQ(b.letters(), "J");

  EXPECT_EQ(kbcctl({"list", "--json"}, false), kSucceeded);
  EXPECT_THAT(output(), ElementsAre(R"([{"location":"001/001","serial":"KBC0001"},)"
                                    R"({"location":"001/003","serial":null},)"
                                    R"({"location":"001/004","serial":"KBC0002"}])"));
  EXPECT_TRUE(terminal.prompts.empty());
  EXPECT_EQ(usb_bus.open_handles(), 0);
}

TEST_F(DrawerTest, ASerialThatCannotBeReadIsUnknown) {
  b.inject({.kind = sim::Fault::Kind::outcome, .letter = 'J', .value = 0});
  EXPECT_EQ(kbcctl({"list", "--json"}), kSucceeded);
  EXPECT_THAT(out.str(), HasSubstr(R"({"location":"001/004","serial":null})"));
}

TEST_F(CliTest, AnEmptyBusListsNothing) {
  usb.unplug();
  EXPECT_EQ(kbcctl({"list"}), kSucceeded);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(kbcctl({"list", "--json"}), kSucceeded);
  EXPECT_EQ(out.str(), "[]\n");
  EXPECT_EQ(err.str(), "");
}

// With several recorders and none chosen no command reaches any of them, beyond the get_sn that
// lists them.
TEST_F(DrawerTest, WithoutAChoiceEveryCommandExitsThreeAndListsTheRecorders) {
  const std::vector<std::vector<std::string>> commands = {
      {"verify"},
      {"--yes", "erase"},
      {"msdc"},
      {"passwd"},
      {"info"},
      {"info", "--json"},
      {"video", "848X480(30)"},
      {"user-name", "李四"},
  };
  for (const auto& command : commands) {
    SCOPED_TRACE(command.back());
    usb_bus.clear_wire();
    EXPECT_EQ(kbcctl(command), kSelection);
    // Standard output holds reports only, or JSON with --json.
    const bool json = command.back() == "--json";
    EXPECT_EQ(out.str(), json ? "{\"ok\":false,\"lines\":[]}\n" : "");
    EXPECT_EQ(err.str(), kChoose +
                             "\nkbcctl: several recorders are connected and none is chosen; "
                             "choose one with --device LOCATION or --serial SERIAL:\n"
                             "001/001\tKBC0001\n001/003\t-\n001/004\tKBC0002\n");
    EXPECT_EQ(a.letters(), "J");
    EXPECT_EQ(b.letters(), "J");
  }
  EXPECT_EQ(a.state().erase_count + b.state().erase_count, 0);
}

// What a recorder answers to get_sn is its own: shown as text, and found in the terminal's
// character set.
TEST_F(DrawerTest, SerialsAreShownAsTextAndTakenInTheTerminalsCharacterSet) {
  b.state().set_serial(gbk("警01") + "\x1b");
  EXPECT_EQ(kbcctl({"list"}), kSucceeded);
  EXPECT_EQ(output().back(), "001/004\t警01\\x1b");
  EXPECT_EQ(kbcctl({"list", "--json"}), kSucceeded);
  EXPECT_THAT(out.str(), HasSubstr(R"({"location":"001/004","serial":"警01\u001b"})"));

  charset = Charset("GBK");
  EXPECT_EQ(kbcctl({"list"}), kSucceeded);
  EXPECT_EQ(output().back(), "001/004\t" + gbk("警01") + "\\x1b");
  usb_bus.clear_wire();
  EXPECT_EQ(kbcctl({"--serial", gbk("警01") + "\x1b", "verify"}), kSucceeded) << err.str();
  EXPECT_EQ(b.letters(), "J-3E6");
  EXPECT_EQ(kbcctl({"--serial", "\xff", "verify"}), kUsage);
  EXPECT_THAT(err.str(), HasSubstr("--serial: the SERIAL is not valid GBK text"));
}

TEST_F(DrawerTest, SerialChoosesTheRecorderAfterLookingThemUp) {
  EXPECT_EQ(kbcctl({"--serial", "KBC0002", "verify"}), kSucceeded);
  EXPECT_THAT(output(), ElementsAre("成功设置系统时间:2024-3-5 7:8:9"));
  EXPECT_EQ(a.letters(), "J");
  EXPECT_EQ(b.letters(), "J-3E6");
  EXPECT_EQ(b.state().clock, "20240305070809");
  EXPECT_EQ(err.str(), "");
}

TEST_F(DrawerTest, ASerialThatNoneHasExitsThreeAfterTheLookUpsOnly) {
  EXPECT_EQ(kbcctl({"--serial=KBC0009", "--yes", "erase"}), kSelection);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(err.str(),
            "kbcctl: no recorder has the serial number 'KBC0009'; the recorders connected:\n"
            "001/001\tKBC0001\n001/003\t-\n001/004\tKBC0002\n");
  EXPECT_EQ(a.letters(), "J");
  EXPECT_EQ(b.letters(), "J");
}

TEST_F(DrawerTest, ASerialThatTwoHaveChoosesNeither) {
  b.state().set_serial("KBC0001");
  EXPECT_EQ(kbcctl({"--serial", "KBC0001", "verify"}), kSelection);
  EXPECT_THAT(err.str(), HasSubstr("2 recorders have the serial number 'KBC0001'; choose one "
                                   "with --device LOCATION:\n"));
  EXPECT_EQ(usb_bus.letters(), "JJ");
}

TEST_F(DrawerTest, DeviceChoosesTheRecorderWithoutLookingAnyUp) {
  EXPECT_EQ(kbcctl({"--device", "001/004", "video", "848X480(30)"}), kSucceeded);
  EXPECT_EQ(a.letters(), "");
  EXPECT_EQ(b.letters(), "-3K");
}

TEST_F(DrawerTest, ADeviceThatIsGoneIsNoRecorder) {
  for (const std::string location : {"001/009", "001/002", "001/003"}) {
    SCOPED_TRACE(location);
    EXPECT_EQ(kbcctl({"--device", location, "verify"}), kNoRecorder);
    EXPECT_THAT(output(), ElementsAre("重新连接!"));
    EXPECT_TRUE(usb_bus.payloads().empty());
  }
}

TEST_F(CliTest, SimulateTakesADrawerOfRecordersWithSerialsOfTheirOwn) {
  EXPECT_EQ(kbcctl({"--simulate=3", "list"}), kSucceeded);
  EXPECT_THAT(output(), ElementsAre("001/001\tKBC0001", "001/002\tKBC0002", "001/003\tKBC0003"));
  env["KBC_PASSWORD"] = kAdmin;
  EXPECT_EQ(kbcctl({"--simulate=3", "--serial", "KBC0003", "info"}), kSucceeded);
  EXPECT_EQ(output().at(0), "设备序列号:KBC0003");
  EXPECT_EQ(kbcctl({"--simulate=3", "verify"}), kSelection);
  EXPECT_TRUE(usb_bus.wire().empty());
}

TEST_F(CliTest, OneRecorderAndASerialOrDeviceOfItsOwn) {
  env["KBC_PASSWORD"] = kAdmin;
  EXPECT_EQ(kbcctl({"--serial", "KBC0001", "verify"}), kSucceeded);
  EXPECT_EQ(usb.letters(), "J-3E6");
  usb_bus.clear_wire();
  EXPECT_EQ(kbcctl({"--device", "001/001", "verify"}), kSucceeded);
  EXPECT_EQ(usb.letters(), "-3E6");
}

}  // namespace
}  // namespace kbc::cli::testing
