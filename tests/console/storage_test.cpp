#include <gtest/gtest.h>

#include "console/messages.h"
#include "console_fixture.h"

namespace kbc::console::testing {
namespace {

using StorageTest = ConsoleTest;

const Lines kSwitched = {"设置移动U盘成功.", "要再次使用本软件功能,请断开USB连接，重新连接!"};

TEST_F(StorageTest, DiskSwitchSendsThePasswordAndNeedsOnlyCompletedTransfers) {
  recorder.inject({.kind = sim::Fault::Kind::reply_code, .letter = '2', .value = 99});
  EXPECT_TRUE(press(idc::msdc, kNormal));
  EXPECT_EQ(recorder.letters(), "-32");
  const std::vector<std::uint8_t> payload = recorder.payloads().back();
  EXPECT_EQ(std::string(payload.begin(), payload.begin() + 8), std::string("2000000\0", 8));
  EXPECT_EQ(view.lines, kSwitched);
  EXPECT_TRUE(recorder.state().mass_storage);
}

TEST_F(StorageTest, DiskSwitchWithAFailedTransferAsksToReconnect) {
  const sim::Fault faults[] = {
      {.kind = sim::Fault::Kind::error, .stage = sim::Fault::Stage::out, .letter = '2'},
      {.kind = sim::Fault::Kind::timeout, .letter = '2'},
      {.kind = sim::Fault::Kind::short_transfer, .letter = '2', .length = 4},
  };
  for (const sim::Fault& fault : faults) {
    recorder.reconnect();
    recorder.inject(fault);
    EXPECT_FALSE(press(idc::msdc, kAdmin));
    EXPECT_EQ(view.lines, Lines{std::string(msg::reconnect)});
  }
}

struct EraseRow {
  std::deque<bool> answers;
  std::size_t questions;
  Lines lines;
};

TEST_F(StorageTest, EraseNeedsTwoYesOnOneSession) {
  const EraseRow rows[] = {
      {{false}, 1, {"清除操作取消!"}},
      {{true, false}, 2, {"清除操作取消!"}},
      {{true, true}, 2, {"所有资料将会被消除!", "清除文件成功"}},
  };
  for (const EraseRow& row : rows) {
    view.questions.clear();
    view.answers = row.answers;
    std::vector<int> handles;
    view.while_asking = [&] { handles.push_back(bus.open_handles()); };
    const bool erases = row.lines.size() == 2;
    EXPECT_EQ(press(idc::erase, kAdmin), erases);
    EXPECT_EQ(view.lines, row.lines);
    EXPECT_EQ(recorder.letters(), erases ? "3N" : "3");
    const Lines questions = {"清除所有文件|此操作将清除所有文件资料，请确认资料是否已备份？",
                             "清除所有文件|请再次确认是否进行清除操作？"};
    EXPECT_EQ(view.questions, Lines(questions.begin(), questions.begin() + row.questions));
    EXPECT_EQ(handles, std::vector<int>(row.questions, 1));
  }
  EXPECT_EQ(recorder.state().erase_count, 1);
}

TEST_F(StorageTest, EraseThatFailsAsksToReconnect) {
  const std::function<void()> faults[] = {
      [&] { recorder.inject({.kind = sim::Fault::Kind::outcome, .letter = 'N', .value = 0}); },
      [&] {
        view.while_asking = [&] {
          if (view.questions.size() == 2) {
            recorder.unplug();
          }
        };
      },
  };
  for (const auto& fault : faults) {
    fault();
    view.questions.clear();
    view.answers = {true, true};
    EXPECT_FALSE(press(idc::erase, kAdmin));
    EXPECT_EQ(view.lines, (Lines{"所有资料将会被消除!", "清除文件失败，请重新连接!"}));
  }
}

}  // namespace
}  // namespace kbc::console::testing
