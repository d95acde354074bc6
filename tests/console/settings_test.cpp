#include <gtest/gtest.h>

#include <algorithm>

#include "console/messages.h"
#include "console_fixture.h"

namespace kbc::console::testing {
namespace {

struct Item {
  int button;
  std::string_view text;
  std::string_view command;  // letter and argument as they go out
  std::string_view report;
};

const Item kItems[] = {
    {1026, "2304X1296(30)", "T", "录像尺寸设置为2304X1296(30)成功!"},
    {1026, "1920X1080(60)", "W", "录像尺寸设置为1920X1080(60)成功!"},
    {1026, "1920X1080(30)", "H", "录像尺寸设置为1920X1080(30)成功!"},
    {1026, "1280X720(60)", "S", "录像尺寸设置为1280X720(60)成功!"},
    {1026, "1280X720(30)", "M", "录像尺寸设置为1280X720(30)成功!"},
    {1026, "848X480(30)", "K", "录像尺寸设置为848X480(30)成功!"},
    {1076, "5分钟", "q", "录像分段5分钟设置成功"},
    {1076, "10分钟", "r", "录像分段10分钟设置成功"},
    {1076, "15分钟", "s", "录像分段15分钟设置成功"},
    {1076, "30分钟", "x", "录像分段30分钟设置成功"},
    {1076, "关闭", "Y", "录像分段关闭设置成功"},
    {1078, "2688X1512", "f", "拍照大小设置为2688X1512成功!"},
    {1078, "5376X3024", "R", "拍照大小设置为5376X3024成功!"},
    {1078, "6016X3384", "[", "拍照大小设置为6016X3384成功!"},
    {1078, "7680X4320", "n", "拍照大小设置为7680X4320成功!"},
    {1092, "高", "=", "屏亮度高设置成功!"},
    {1092, "中", "%", "屏亮度中设置成功!"},
    {1092, "低", ".", "屏亮度低设置成功!"},
    {1095, "1分钟", "A", "1分钟关屏设置成功!"},
    {1095, "5分钟", "<", "5分钟关屏设置成功!"},
    {1095, "关闭", "?", "不关屏设置成功!"},
    {1141, "手动", "t", "手动红外设置成功!"},
    {1141, "自动", "u", "自动红外设置成功!"},
    {1143, "打开", "]1", "打开语音提示成功!"},
    {1143, "关闭", "]0", "关闭语音提示成功!"},
    {1145, "打开", "0", "打开移动侦测成功!"},
    {1145, "关闭", ",", "关闭移动侦测成功!"},
};

const Button& button_of(int id) {
  return *std::ranges::find(kButtons, id, &Button::id);
}

class SettingsTest : public ConsoleTest {
 protected:
  bool choose(const Item& item, std::string_view password = kAdmin) {
    view.selections[button_of(item.button).list] = item.text;
    return press(item.button, password);
  }
};

TEST_F(SettingsTest, EveryItemSendsItsCommandAndReportsIt) {
  for (const Item& item : kItems) {
    SCOPED_TRACE(std::string(item.text) + " on " + std::to_string(item.button));
    const Button& button = button_of(item.button);
    const bool normal_passes = button.gate_letters == "-3";
    for (std::string_view password : {kNormal, kAdmin}) {
      const bool passes = password == kAdmin || normal_passes;
      EXPECT_EQ(choose(item, password), passes);
      EXPECT_EQ(recorder.letters(), std::string(button.gate_letters) +
                                        std::string(passes ? item.command.substr(0, 1) : ""));
      EXPECT_EQ(view.lines, Lines{std::string(passes ? item.report : msg::wrong_password)});
    }
    std::vector<std::uint8_t> expected(18, 0);
    std::ranges::copy(item.command, expected.begin());
    EXPECT_EQ(recorder.payloads().back(), expected);
  }
  EXPECT_EQ(recorder.state().segment, "set_segment_off");
  EXPECT_EQ(recorder.state().voice_prompt, false);
}

TEST_F(SettingsTest, NothingChosenOrAnUnknownItemSendsNoSetting) {
  for (const Button& button : kButtons) {
    if (button.list == 0) {
      continue;
    }
    SCOPED_TRACE(button.id);
    const std::pair<std::string_view, Lines> rows[] = {
        {"", {std::string(button.nothing_chosen)}},
        {"1920x1080(30)", {}},  // near misses of real items report nothing
        {"关闭 ", {}},
    };
    for (const auto& [selection, lines] : rows) {
      view.selections[button.list] = selection;
      EXPECT_FALSE(press(button.id, kAdmin));
      EXPECT_EQ(recorder.letters(), button.gate_letters);
      EXPECT_EQ(view.lines, lines);
    }
  }
}

TEST_F(SettingsTest, FailedCommandAsksToReconnect) {
  using enum sim::Fault::Kind;
  const sim::Fault faults[] = {
      {.kind = reply_code, .value = 99},
      {.kind = outcome, .value = 0},
      {.kind = outcome, .value = 2},
      {.kind = timeout},
      {.kind = error, .stage = sim::Fault::Stage::out},
  };
  for (const Item& item : kItems) {
    SCOPED_TRACE(std::string(item.text) + " on " + std::to_string(item.button));
    for (sim::Fault fault : faults) {
      if (item.command == "0" && fault.kind == outcome && fault.value == 2) {
        continue;  // the refusal, below
      }
      fault.letter = item.command[0];
      recorder.inject(fault);
      EXPECT_FALSE(choose(item));
      EXPECT_EQ(view.lines, Lines{std::string(msg::reconnect)});
    }
    recorder.unplug_at_transfer(static_cast<int>(button_of(item.button).gate_letters.size()) * 2 +
                                1);
    EXPECT_FALSE(choose(item));
    EXPECT_EQ(view.lines, Lines{std::string(msg::reconnect)});
    recorder.reconnect();
  }
}

TEST_F(SettingsTest, MotionRefusedWhilePreRecording) {
  recorder.state().pre_recording = true;
  EXPECT_FALSE(choose(kItems[25]));
  EXPECT_EQ(view.lines, Lines{"请先关闭预录!"});
  EXPECT_NE(recorder.state().motion_detection, true);
}

}  // namespace
}  // namespace kbc::console::testing
