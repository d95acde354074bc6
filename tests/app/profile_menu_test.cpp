// The profile menu: a station profile file applied from the window to the recorder the buttons
// talk to or to every one, its receipts in the pane; a file that is no profile sends nothing.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <algorithm>

#include "app/profile_problems.h"
#include "frame_fixture.h"
#include "tests/console/station_profile.h"

namespace kbc::app {
namespace {

class ProfileMenuTest : public FrameFixture {
 protected:
  // A file of this text in a folder of the test's own.
  QString file(const QString& name, std::string_view text) {
    const QString path = folder.filePath(name);
    QFile out(path);
    EXPECT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(text.data(), static_cast<qint64>(text.size()));
    return path;
  }

  void apply(const QString& path, console::ApplyTo to) {
    field(idc::password)->setText(QStringLiteral("888888"));
    bus.clear_wire();
    frame->apply_profile_file(path, to);
    settle(*frame);
  }

  bool opened_any() const {
    return std::ranges::any_of(bus.wire(), [](const sim::WireEvent& event) {
      return event.kind == sim::WireEvent::Kind::open;
    });
  }

  QTemporaryDir folder;
};

TEST_F(ProfileMenuTest, TheMenusComeBeforeAboutWithTheirChoices) {
  const QList<QAction*> menus = frame->menuBar()->actions();
  ASSERT_EQ(menus.size(), 3);
  EXPECT_EQ(menus[0]->text(), QString::fromUtf8("配置文件(&P)"));
  EXPECT_EQ(menus[1]->text(), QString::fromUtf8("导出录像(&E)"));
  EXPECT_EQ(menus[2]->text(), QString::fromUtf8("关于(&H)"));
  QStringList items;
  for (const QAction* item : menus[0]->menu()->actions()) {
    items.push_back(item->text());
  }
  EXPECT_EQ(items, QStringList({QString::fromUtf8("应用到当前记录仪(&C)…"),
                                QString::fromUtf8("应用到所有记录仪(&A)…")}));
  items.clear();
  for (const QAction* item : menus[1]->menu()->actions()) {
    items.push_back(item->text());
  }
  EXPECT_EQ(items, QStringList({QString::fromUtf8("导出当前记录仪的录像(&C)"),
                                QString::fromUtf8("导出所有记录仪的录像(&A)"), QString(),
                                QString::fromUtf8("录像柜(&D)")}));
}

TEST_F(ProfileMenuTest, EveryRecorderTakesTheProfileOffTheUserInterfaceThread) {
  sim::SimRecorder& second = bus.add_recorder();
  hear_bus(*frame);
  apply(file(QStringLiteral("station.toml"), kbc::testing::kStationProfile),
        console::ApplyTo::every);

  const QStringList shown = lines();
  EXPECT_TRUE(shown.contains(QString::fromUtf8("应用配置文件 station.toml")));
  EXPECT_TRUE(shown.contains(QString::fromUtf8("记录仪 KBC0001 (001/001):")));
  EXPECT_TRUE(shown.contains(QString::fromUtf8("记录仪 KBC0002 (001/002):")));
  EXPECT_EQ(shown.last(), QString::fromUtf8("配置文件应用完毕: 2台记录仪中2台全部设置成功"));
  const std::string letters = "J36" + std::string(kbc::testing::kStationLetters);
  EXPECT_EQ(recorder.letters(), letters);
  EXPECT_EQ(second.letters(), letters);
  EXPECT_TRUE(std::ranges::all_of(pause.off_ui_thread, [](bool off) { return off; }));
  EXPECT_FALSE(frame->busy());
}

TEST_F(ProfileMenuTest, AFileThatIsNoProfileIsReportedInChineseAndNothingIsSent) {
  struct Row {
    const char* name;
    QString path;
    QStringList says;  // every problem, in the file's order
  };
  const Row rows[] = {
      {"two bad lines",
       file(QStringLiteral("bad.toml"), "video = \"1920X1080(30)\"\ncolour = \"x\"\nir = 1\n"),
       {QString::fromUtf8("bad.toml 第2行: 'colour' 不是配置文件的设置项，可用的设置项: video, "
                          "segment, photo, ir, screen-off, voice, brightness, motion, "
                          "unit-number, unit-name"),
        QString::fromUtf8("bad.toml 第3行: ir: 须为带引号的列表选项，如 ir = \"手动\"")}},
      {"no TOML",
       file(QStringLiteral("x.toml"), "ir = \"auto\" motion = \"on\"\n"),
       {QString::fromUtf8("x.toml 第1行: 不是有效的TOML格式，请检查此行的引号、等号和设置项")}},
      {"no such file",
       folder.filePath(QStringLiteral("missing.toml")),
       {QString::fromUtf8("missing.toml: 文件不存在")}},
      {"a folder",
       folder.path(),
       {QDir(folder.path()).dirName() + QString::fromUtf8(": 不是普通文件")}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    QString title, heading;
    QStringList problems;
    QTextOption::WrapMode wrap = QTextOption::NoWrap;
    const ModalAnswers answers({[&](QWidget* modal) {
      auto* box = qobject_cast<ProfileProblemsBox*>(modal);
      ASSERT_NE(box, nullptr);
      title = box->windowTitle();
      heading = box->heading()->text();
      problems = box->problems()->toPlainText().split(u'\n');
      wrap = box->problems()->wordWrapMode();
      QTest::keyClick(box, Qt::Key_Return);
    }});
    const qsizetype before = lines().size();
    apply(row.path, console::ApplyTo::chosen);
    EXPECT_EQ(answers.answered(), 1u);
    EXPECT_EQ(title, QString::fromUtf8("执法记录仪管理软件(KBC-Q7)"));
    EXPECT_EQ(heading, QString::fromUtf8("配置文件无法使用:"));
    EXPECT_EQ(problems, row.says);
    EXPECT_EQ(wrap, QTextOption::WordWrap);
    EXPECT_EQ(lines().size(), before);
    EXPECT_FALSE(opened_any());
  }
}

}  // namespace
}  // namespace kbc::app
