// The status bar's recorder: what it says for each state of the drawer, and the window following
// simulated recorders as they come and go, with a pick that alone gets the buttons' commands.
#include "app/recorder_picker.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <map>

#include "frame_fixture.h"

namespace kbc::app {
namespace {

using console::ConnectedRecorder;
using console::DrawerState;

const ConnectedRecorder kA{"001/002", "KBC0001"};
const ConnectedRecorder kB{"001/004", "KBC0002"};

// The picker as the operator reads it: the label, then the list's items with the current one in
// brackets, or its placeholder, when it shows.
QString shown(const RecorderPicker& picker) {
  QString text = picker.label()->text();
  const QComboBox& list = *picker.list();
  if (list.isHidden()) {
    return text;
  }
  text += QStringLiteral(" |");
  if (list.currentIndex() < 0) {
    text += QStringLiteral(" (") + list.placeholderText() + u')';
  }
  for (int i = 0; i < list.count(); ++i) {
    text += i == list.currentIndex() ? QStringLiteral(" [%1]") : QStringLiteral(" %1");
    text = text.arg(list.itemText(i));
  }
  return text;
}

TEST(RecorderPicker, SaysWhichRecorderTheConsoleUsesAndOffersAChoiceWhereItNeedsOne) {
  const struct {
    const char* what;
    DrawerState state;
    const char* shown;
  } rows[] = {
      {"none", {}, "未连接记录仪"},
      {"one", {{kA}}, "记录仪 KBC0001 (001/002)"},
      {"two, none picked", {{kA, kB}}, "记录仪： | (请选择) KBC0001 (001/002) KBC0002 (001/004)"},
      {"two, one picked",
       {{kA, kB}, kB, false},
       "记录仪： | KBC0001 (001/002) [KBC0002 (001/004)]"},
      {"the picked one alone", {{kB}, kB, false}, "记录仪 KBC0002 (001/004)"},
      {"the picked one gone, one left",
       {{kA}, kB, true},
       "所选记录仪 KBC0002 (001/004) 已断开 | (请选择) KBC0001 (001/002)"},
      // Back at a place of its own: a new arrival, not the pick.
      {"the picked one gone and back",
       {{kA, {"001/005", "KBC0002"}}, kB, true},
       "所选记录仪 KBC0002 (001/004) 已断开 | (请选择) KBC0001 (001/002) KBC0002 "
       "(001/005)"},
      {"the picked one gone, none left", {{}, kB, true}, "所选记录仪 KBC0002 (001/004) 已断开"},
      {"a serial number not read", {{{"001/003", std::nullopt}}}, "记录仪 序列号未知 (001/003)"},
      {"a serial number with control characters",
       {{{"001/003", "A\x1b]0;x\x07\nB\u202e"}}},
       "记录仪 A\\x1b]0;x\\x07\\x0aB\\u202e (001/003)"},
  };
  RecorderPicker picker(nullptr);
  for (const auto& row : rows) {
    picker.show_state(row.state);
    EXPECT_EQ(shown(picker), QString::fromUtf8(row.shown)) << row.what;
  }
}

TEST(RecorderPicker, OnlyTheOperatorsChoicePicks) {
  RecorderPicker picker(nullptr);
  std::vector<ConnectedRecorder> picked;
  QObject::connect(&picker, &RecorderPicker::picked,
                   [&](const ConnectedRecorder& recorder) { picked.push_back(recorder); });
  picker.show_state({{kA, kB}});
  picker.show_state({{kA, kB}, kA, false});
  EXPECT_TRUE(picked.empty()) << "refilling the list picks nothing";
  // Nor does a wheel turned over the list on its way elsewhere.
  QWheelEvent wheel(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, -120), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(picker.list(), &wheel);
  EXPECT_EQ(picker.list()->currentIndex(), 0);
  EXPECT_TRUE(picked.empty());
  QTest::keyClick(picker.list(), Qt::Key_Down);
  EXPECT_EQ(picked, std::vector<ConnectedRecorder>{kB});
}

class DrawerInTheWindow : public FrameFixture {
 protected:
  QString status() const { return shown(*frame->recorder_picker()); }

  // The operator picks the list's item `index` with the keyboard.
  void pick(int index) {
    QComboBox& list = *frame->recorder_picker()->list();
    ASSERT_TRUE(list.isVisible());
    while (list.currentIndex() != index) {
      QTest::keyClick(&list, list.currentIndex() < index ? Qt::Key_Down : Qt::Key_Up);
    }
    settle(*frame);
  }
};

TEST_F(DrawerInTheWindow, TheStatusBarFollowsRecordersComingAndGoing) {
  EXPECT_EQ(status(), QString::fromUtf8("记录仪 KBC0001 (001/001)"));
  sim::SimRecorder& b = bus.add_recorder();
  hear_bus(*frame);
  EXPECT_EQ(status(), QString::fromUtf8("记录仪： | (请选择) KBC0001 (001/001) KBC0002 (001/002)"));
  recorder.unplug();
  hear_bus(*frame);
  EXPECT_EQ(status(), QString::fromUtf8("记录仪 KBC0002 (001/002)"));
  b.unplug();
  hear_bus(*frame);
  EXPECT_EQ(status(), QString::fromUtf8("未连接记录仪"));
  // Each arrival's serial number was read once, off the user-interface thread.
  EXPECT_EQ(bus.letters(), "JJ");
  EXPECT_FALSE(pause.off_ui_thread.empty());
  EXPECT_EQ(std::set<bool>(pause.off_ui_thread.begin(), pause.off_ui_thread.end()),
            std::set<bool>{true});
}

TEST_F(DrawerInTheWindow, WithTwoRecordersAndNonePickedAClickSendsNothing) {
  bus.add_recorder();
  hear_bus(*frame);
  bus.clear_wire();
  verify("888888");
  EXPECT_EQ(last_line(), QString::fromUtf8("连接了多台记录仪，请先选择一台!"));
  EXPECT_TRUE(bus.letters_by_device().empty());
}

TEST_F(DrawerInTheWindow, AfterAPickAVerificationReachesOnlyThePickedRecorder) {
  bus.add_recorder();
  hear_bus(*frame);
  pick(1);
  EXPECT_EQ(status(), QString::fromUtf8("记录仪： | KBC0001 (001/001) [KBC0002 (001/002)]"));
  bus.clear_wire();
  verify("888888");
  EXPECT_EQ(last_line(), QString::fromUtf8("成功设置系统时间:2024-6-5 7:8:9"));
  EXPECT_EQ(bus.letters_by_device(), (std::map<std::string, std::string>{{"001/002", "-3E6"}}));
}

TEST_F(DrawerInTheWindow, APickedRecorderThatLeavesIsNeverSwappedForTheOneLeft) {
  sim::SimRecorder& b = bus.add_recorder();
  hear_bus(*frame);
  pick(1);
  b.unplug();
  hear_bus(*frame);
  EXPECT_EQ(status(),
            QString::fromUtf8("所选记录仪 KBC0002 (001/002) 已断开 | (请选择) KBC0001 (001/001)"));
  bus.clear_wire();
  verify("888888");
  EXPECT_EQ(last_line(), QString::fromUtf8("重新连接!"));
  EXPECT_TRUE(bus.letters_by_device().empty());

  // Back again, it is a new arrival that the operator picks anew.
  b.reconnect();
  hear_bus(*frame);
  EXPECT_EQ(status(), QString::fromUtf8("所选记录仪 KBC0002 (001/002) 已断开 | (请选择) "
                                        "KBC0001 (001/001) KBC0002 (001/002)"));
  bus.clear_wire();
  verify("888888");
  EXPECT_EQ(last_line(), QString::fromUtf8("重新连接!"));
  EXPECT_TRUE(bus.letters_by_device().empty());
  pick(0);
  bus.clear_wire();
  verify("888888");
  EXPECT_EQ(bus.letters_by_device(), (std::map<std::string, std::string>{{"001/001", "-3E6"}}));
}

TEST_F(DrawerInTheWindow, ThePaneNamesTheRecorderTheButtonsTalkToWheneverItChanges) {
  const auto heading = [](const char* serial, const char* location) {
    return QString::fromUtf8("记录仪 %1 (%2):").arg(QString::fromUtf8(serial), location);
  };
  const QString verified = QString::fromUtf8("成功设置系统时间:2024-6-5 7:8:9");
  // The only recorder, then another in its place.
  QStringList want{heading("KBC0001", "001/001")};
  EXPECT_EQ(lines(), want);
  recorder.unplug();
  sim::SimRecorder& b = bus.add_recorder();
  hear_bus(*frame);
  verify("888888");
  want << heading("KBC0002", "001/002") << verified;
  // Several and none picked: nobody to name. Each pick names its recorder once.
  recorder.reconnect();
  hear_bus(*frame);
  pick(0);
  verify("888888");
  pick(1);
  verify("888888");
  verify("888888");
  want << heading("KBC0001", "001/001") << verified << heading("KBC0002", "001/002") << verified
       << verified;
  // The pick gone: the buttons reach none, and nothing is named until the next pick.
  b.unplug();
  hear_bus(*frame);
  want << QString::fromUtf8("重新连接!");
  verify("888888");
  EXPECT_EQ(lines(), want);
}

TEST_F(DrawerInTheWindow, ARecorderUnheardOfAppearsWhenAClickFindsSeveral) {
  // Added behind the window's back: no event tells of it.
  bus.set_hotplug_listener({});
  bus.add_recorder();
  verify("888888");
  EXPECT_EQ(last_line(), QString::fromUtf8("连接了多台记录仪，请先选择一台!"));
  EXPECT_EQ(status(), QString::fromUtf8("记录仪： | (请选择) KBC0001 (001/001) KBC0002 (001/002)"));
}

}  // namespace
}  // namespace kbc::app
