#include "app/main_frame.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <functional>
#include <memory>
#include <set>
#include <vector>

#include "app/console_edit.h"
#include "app/info_view.h"
#include "app/settings_bar.h"
#include "console/control_ids.h"
#include "link/trace.h"
#include "sim/sim_recorder.h"
#include "typing.h"

namespace kbc::app {
namespace {

class FixedClock final : public console::Clock {
 public:
  link::LocalTime now() override { return {2024, 6, 5, 7, 8, 9}; }
};

// Notes the cursor every time the console waits on the recorder.
class CursorWatch final : public link::Pause {
 public:
  void pause(std::chrono::milliseconds) override {
    const QCursor* cursor = QApplication::overrideCursor();
    shapes.push_back(cursor ? cursor->shape() : Qt::ArrowCursor);
  }
  std::vector<Qt::CursorShape> shapes;
};

// While it lives: once a modal window is up, hands it to `answer`, which has to close it.
class ModalAnswer {
 public:
  explicit ModalAnswer(std::function<void(QWidget*)> answer) {
    QObject::connect(&poll_, &QTimer::timeout, [this, answer = std::move(answer)] {
      if (QWidget* modal = QApplication::activeModalWidget()) {
        poll_.stop();
        answer(modal);
      }
    });
    poll_.start(0);
  }

 private:
  QTimer poll_;
};

const std::set<int> kAlwaysEnabled = {1012, 1016};

class MainFrameTest : public ::testing::Test {
 protected:
  MainFrameTest() : previous_trace_(link::set_trace_sink({})) {}
  ~MainFrameTest() override { link::set_trace_sink(previous_trace_); }

  void SetUp() override {
    QString error;
    const auto dialog = settings_bar_template(&error);
    ASSERT_TRUE(dialog) << error.toStdString();
    frame = std::make_unique<CMainFrame>(*dialog, link::Link{recorder, pause}, clock);
    frame->show();
  }

  SettingsBar* bar() const { return frame->settings_bar(); }
  QLineEdit* field(int id) const { return bar()->field(id); }
  QString last_line() const { return frame->info_view()->document()->lastBlock().text(); }
  std::set<int> enabled_buttons() const {
    std::set<int> enabled;
    for (const int id : bar()->button_ids()) {
      if (bar()->button(id)->isEnabled()) {
        enabled.insert(id);
      }
    }
    return enabled;
  }
  void verify(const char* password) {
    field(idc::password)->clear();
    QTest::keyClicks(field(idc::password), QString::fromUtf8(password));
    QTest::mouseClick(bar()->button(idc::verify), Qt::LeftButton);
  }

  link::TraceSink previous_trace_;
  sim::SimRecorder recorder;
  CursorWatch pause;
  FixedClock clock;
  std::unique_ptr<CMainFrame> frame;
};

TEST_F(MainFrameTest, FixedSizeTitledBarOverPaneAndStatusBar) {
  const QSize size(828, std::min(frame->screen()->availableGeometry().height(), 600));
  EXPECT_EQ(frame->minimumSize(), size);
  EXPECT_EQ(frame->maximumSize(), size);
  EXPECT_FALSE(frame->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(frame->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_EQ(frame->windowTitle(), QString::fromUtf8("执法记录仪管理软件(KBC-Q7)"));

  const QRect pane = frame->info_view()->geometry();
  EXPECT_EQ(pane.top(), bar()->geometry().bottom() + 1);
  EXPECT_EQ(pane.bottom(), frame->centralWidget()->height() - 1);
  EXPECT_EQ(g_pInfoView, frame->info_view());

  frame->mark_simulated();
  QStringList shown;
  for (const QLabel* label : frame->statusBar()->findChildren<QLabel*>()) {
    if (label->isVisible()) {
      shown.push_back(label->text());
    }
  }
  EXPECT_EQ(shown.join(u' '), QString::fromUtf8("就绪 模拟记录仪 大写 数字 滚动"));
}

TEST_F(MainFrameTest, WindowIconIsTheCompiledInSvg) {
  // The test's application has no icon of its own, so this one is the frame's.
  ASSERT_TRUE(QApplication::windowIcon().isNull());
  EXPECT_FALSE(frame->windowIcon().isNull());
  EXPECT_FALSE(frame->windowIcon().pixmap(32, 32).isNull());
}

TEST_F(MainFrameTest, AboutBoxHasTitleAndVersionNoButtonsAndClosesWithEsc) {
  const auto menus = frame->menuBar()->actions();
  ASSERT_EQ(menus.size(), 1);
  EXPECT_EQ(menus[0]->text(), QString::fromUtf8("关于"));
  const auto items = menus[0]->menu()->actions();
  ASSERT_EQ(items.size(), 1);
  EXPECT_EQ(items[0]->text(), QString::fromUtf8("关于执法记录仪管理软件"));

  QStringList texts;
  qsizetype buttons = -1;
  const ModalAnswer on_modal([&](QWidget* about) {
    for (const QLabel* label : about->findChildren<QLabel*>()) {
      texts.push_back(label->text());
    }
    buttons = about->findChildren<QAbstractButton*>().size();
    QTest::keyClick(about, Qt::Key_Escape);
  });
  items[0]->trigger();
  EXPECT_EQ(texts.join(u'/'),
            QString::fromUtf8("执法记录仪管理软件(KBC-Q7)/版本 ") + QStringLiteral(KBC_VERSION));
  EXPECT_EQ(buttons, 0);
}

TEST_F(MainFrameTest, LayoutHoldsAfterEveryShow) {
  frame->hide();
  frame->show();
  EXPECT_EQ(bar()->list(idc::video_list)->count(), 6);
  EXPECT_EQ(bar()->list(idc::photo_list)->count(), 4);
  for (const QComboBox* list : bar()->findChildren<QComboBox*>()) {
    EXPECT_EQ(list->currentIndex(), -1);
  }
  // Limits count GBK bytes: a Chinese character takes two.
  const struct {
    int id;
    const char* typed;
    const char* kept;
  } rows[] = {
      {idc::password, "1234567", "123456"},
      {idc::password, "管理员密码", "管理员"},
      {idc::password, "12345密", "12345"},
      {idc::unit_number_field, "ABCDEFGHIJKLMN", "ABCDEFGHIJKL"},
      {idc::user_number_field, "12345678", "123456"},
      {idc::unit_name_field, "一二三四五六七八九十一二三四五六七",
       "一二三四五六七八九十一二三四五六"},
      {idc::user_name_field, "abcdefghijklmnopqrstuvwxyz0123456789",
       "abcdefghijklmnopqrstuvwxyz012345"},
      {idc::user_name_field, "张三한", "张三"},  // Hangul has no GBK form
  };
  for (const auto& row : rows) {
    field(row.id)->clear();
    type_text(field(row.id), QString::fromUtf8(row.typed));
    EXPECT_EQ(field(row.id)->text(), QString::fromUtf8(row.kept)) << row.id << " " << row.typed;
  }
  EXPECT_EQ(enabled_buttons(), kAlwaysEnabled);
}

TEST_F(MainFrameTest, VerificationEnablesExactlyTheGatedButtonsOfThePassword) {
  verify("888888");
  EXPECT_EQ(enabled_buttons().size(), bar()->button_ids().size());
  EXPECT_EQ(last_line(), QString::fromUtf8("成功设置系统时间:2024-6-5 7:8:9"));
  ASSERT_FALSE(pause.shapes.empty());
  EXPECT_EQ(std::set<Qt::CursorShape>(pause.shapes.begin(), pause.shapes.end()),
            std::set<Qt::CursorShape>{Qt::WaitCursor});
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  std::set<int> normal = kAlwaysEnabled;
  normal.insert(idc::change_password);
  verify("000000");
  EXPECT_EQ(enabled_buttons(), normal);
  verify("123456");
  EXPECT_EQ(enabled_buttons(), normal);
  EXPECT_EQ(last_line(), QString::fromUtf8("密码错误!"));
}

TEST_F(MainFrameTest, SettingButtonSendsTheListsSelection) {
  verify("888888");
  bar()->list(idc::video_list)->setCurrentIndex(2);
  QTest::mouseClick(bar()->button(idc::video), Qt::LeftButton);
  EXPECT_EQ(recorder.state().video, "set_video_1080p30");
  EXPECT_EQ(last_line(), QString::fromUtf8("录像尺寸设置为1920X1080(30)成功!"));
}

TEST_F(MainFrameTest, QuestionsAndMessagesAreWarningBoxesWithTheOrdinaryCursor) {
  for (const auto answer : {QMessageBox::Yes, QMessageBox::No}) {
    QStringList seen;
    const ModalAnswer on_modal([&](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      seen = {box->windowTitle(), box->text()};
      EXPECT_EQ(box->icon(), QMessageBox::Warning);
      EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
      EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::ArrowCursor);
      box->button(answer)->click();
    });
    QApplication::setOverrideCursor(Qt::WaitCursor);  // as in a handler
    EXPECT_EQ(frame->ask_yes_no("请再次确认是否进行清除操作？", "清除所有文件"),
              answer == QMessageBox::Yes);
    QApplication::restoreOverrideCursor();
    EXPECT_EQ(seen.join(u'/'), QString::fromUtf8("清除所有文件/请再次确认是否进行清除操作？"));
  }

  // A letter the user number field refuses: a message with the application's title.
  QStringList seen;
  const ModalAnswer on_modal([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    seen = {box->windowTitle(), box->text()};
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    box->button(QMessageBox::Ok)->click();
  });
  QTest::keyClicks(field(idc::user_number_field), QStringLiteral("12-"));
  EXPECT_EQ(seen.join(u'/'),
            QString::fromUtf8("执法记录仪管理软件(KBC-Q7)/仅支持数字或大小写字母!"));
  EXPECT_TRUE(field(idc::user_number_field)->text().isEmpty());
}

TEST_F(MainFrameTest, ComesBackFromMinimisedToNormalSize) {
  frame->showMinimized();
  frame->come_forward(QStringLiteral("token-1"));
  EXPECT_FALSE(frame->windowState() & Qt::WindowMinimized);
  EXPECT_EQ(qEnvironmentVariable("XDG_ACTIVATION_TOKEN"), QStringLiteral("token-1"));
  qunsetenv("XDG_ACTIVATION_TOKEN");
}

TEST_F(MainFrameTest, Screenshot) {
  frame->mark_simulated();
  verify("888888");
  bar()->list(idc::ir_list)->setCurrentIndex(1);
  QTest::mouseClick(bar()->button(idc::ir), Qt::LeftButton);
  const QString path = QStringLiteral(KBC_TEST_OUTPUT_DIR "/kbc-q7.png");
  ASSERT_TRUE(frame->grab().save(path)) << path.toStdString();
}

}  // namespace
}  // namespace kbc::app
