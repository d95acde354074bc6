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

#include "app/password_dlg.h"
#include "frame_fixture.h"
#include "typing.h"

namespace kbc::app {
namespace {

const std::set<int> kAlwaysEnabled = {1012, 1016};

class MainFrameTest : public FrameFixture {
 protected:
  std::set<int> enabled_buttons() const {
    std::set<int> enabled;
    for (const int id : bar()->button_ids()) {
      if (bar()->button(id)->isEnabled()) {
        enabled.insert(id);
      }
    }
    return enabled;
  }
  // The sessions on the wire, each as the letters of its commands.
  QStringList sessions() const {
    QStringList result;
    for (const sim::WireEvent& event : bus.wire()) {
      if (event.kind == sim::WireEvent::Kind::open) {
        result.push_back(QString());
      } else if (event.kind == sim::WireEvent::Kind::control && event.request_type == 0x40 &&
                 !result.isEmpty()) {
        result.back() += QChar(event.data.at(0));
      }
    }
    return result;
  }
};

TEST_F(MainFrameTest, FixedSizeTitledBarOverPaneAndStatusBar) {
  const QSize size = frame_size(frame->logicalDpiY(), QGuiApplication::primaryScreen());
  if (frame->logicalDpiY() == 96) {
    EXPECT_EQ(size, QSize(828, std::min(frame->screen()->availableGeometry().height(), 600)));
  }
  EXPECT_EQ(frame->minimumSize(), size);
  EXPECT_EQ(frame->maximumSize(), size);
  EXPECT_FALSE(frame->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(frame->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_EQ(frame->windowTitle(), QString::fromUtf8("执法记录仪管理软件(KBC-Q7)"));

  const QRect pane = frame->info_view()->geometry();
  EXPECT_EQ(pane.top(), frame->bar_scroller()->geometry().bottom() + 1);
  EXPECT_EQ(pane.bottom(), frame->centralWidget()->height() - 1);
  EXPECT_EQ(g_pInfoView, frame->info_view());

  frame->mark_simulated();
  QStringList shown;
  for (const QLabel* label : frame->statusBar()->findChildren<QLabel*>()) {
    if (label->isVisible()) {
      shown.push_back(label->text());
    }
  }
  EXPECT_EQ(shown.join(u' '),
            QString::fromUtf8("就绪 记录仪 KBC0001 (001/001) 模拟记录仪 大写 数字 滚动"));
}

TEST_F(MainFrameTest, WindowIconIsTheCompiledInSvg) {
  // The test's application has no icon of its own, so this one is the frame's.
  ASSERT_TRUE(QApplication::windowIcon().isNull());
  EXPECT_FALSE(frame->windowIcon().isNull());
  EXPECT_FALSE(frame->windowIcon().pixmap(32, 32).isNull());
}

TEST_F(MainFrameTest, AboutBoxHasTitleAndVersionNoButtonsAndClosesWithEsc) {
  // The last menu, after the profile menu.
  const auto menus = frame->menuBar()->actions();
  ASSERT_FALSE(menus.isEmpty());
  // The texts as they stand, each with its Alt key after it.
  EXPECT_EQ(menus.last()->text(), QString::fromUtf8("关于(&H)"));
  const auto items = menus.last()->menu()->actions();
  ASSERT_EQ(items.size(), 1);
  EXPECT_EQ(items[0]->text(), QString::fromUtf8("关于执法记录仪管理软件(&A)"));

  QStringList texts;
  qsizetype buttons = -1;
  const ModalAnswers on_modal({[&](QWidget* about) {
    for (const QLabel* label : about->findChildren<QLabel*>()) {
      texts.push_back(label->text());
    }
    buttons = about->findChildren<QAbstractButton*>().size();
    QTest::keyClick(about, Qt::Key_Escape);
  }});
  items[0]->trigger();
  EXPECT_EQ(texts.join(u'/'),
            QString::fromUtf8("执法记录仪管理软件(KBC-Q7)/版本 ") + QStringLiteral(KBC_VERSION));
  EXPECT_EQ(buttons, 0);
}

TEST_F(MainFrameTest, LayoutHoldsAfterEveryShow) {
  frame->hide();
  frame->show();
  settle(*frame);
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
    settle(*frame);
    EXPECT_EQ(field(row.id)->text(), QString::fromUtf8(row.kept)) << row.id << " " << row.typed;
  }
  EXPECT_EQ(enabled_buttons(), kAlwaysEnabled);
}

TEST_F(MainFrameTest, VerificationEnablesExactlyTheGatedButtonsOfThePassword) {
  verify("888888");
  EXPECT_EQ(enabled_buttons().size(), bar()->button_ids().size());
  EXPECT_EQ(last_line(), QString::fromUtf8("成功设置系统时间:2024-6-5 7:8:9"));
  // The session ran off the user-interface thread, under the wait cursor, which went with it.
  ASSERT_FALSE(pause.shapes.empty());
  EXPECT_EQ(std::set<Qt::CursorShape>(pause.shapes.begin(), pause.shapes.end()),
            std::set<Qt::CursorShape>{Qt::WaitCursor});
  EXPECT_EQ(std::set<bool>(pause.off_ui_thread.begin(), pause.off_ui_thread.end()),
            std::set<bool>{true});
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
  click(idc::video);
  settle(*frame);
  EXPECT_EQ(recorder.state().video, "set_video_1080p30");
  EXPECT_EQ(last_line(), QString::fromUtf8("录像尺寸设置为1920X1080(30)成功!"));
}

TEST_F(MainFrameTest, QuestionsAreChineseWarningBoxesThatOnlyAnExplicitYesConfirms) {
  const struct {
    const char* how;
    std::function<void(QMessageBox*)> answer;
    bool yes;
  } rows[] = {
      {"Yes clicked", [](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); }, true},
      {"No clicked", [](QMessageBox* box) { box->button(QMessageBox::No)->click(); }, false},
      {"Enter", [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); }, false},
      {"Esc", [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); }, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.how);
    QStringList seen;
    const ModalAnswers on_modal({[&](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      seen = {box->windowTitle(), box->text(), box->button(QMessageBox::Yes)->text(),
              box->button(QMessageBox::No)->text()};
      EXPECT_EQ(box->icon(), QMessageBox::Warning);
      EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
      EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
      EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::ArrowCursor);
      row.answer(box);
    }});
    QApplication::setOverrideCursor(Qt::WaitCursor);  // as in a handler
    EXPECT_EQ(frame->ask_yes_no("请再次确认是否进行清除操作？", "清除所有文件"), row.yes);
    QApplication::restoreOverrideCursor();
    ASSERT_EQ(seen.size(), 4);
    EXPECT_EQ(seen.mid(0, 2).join(u'/'),
              QString::fromUtf8("清除所有文件/请再次确认是否进行清除操作？"));
    // Qt's own texts in Chinese.
    EXPECT_TRUE(seen[2].startsWith(QString::fromUtf8("是"))) << seen[2].toStdString();
    EXPECT_TRUE(seen[3].startsWith(QString::fromUtf8("否"))) << seen[3].toStdString();
  }
}

TEST_F(MainFrameTest, AFieldsRefusedLetterGetsAMessageWithTheApplicationsTitle) {
  QStringList seen;
  const ModalAnswers on_modal({[&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    seen = {box->windowTitle(), box->text()};
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    box->button(QMessageBox::Ok)->click();
  }});
  QTest::keyClicks(field(idc::user_number_field), QStringLiteral("12-"));
  settle(*frame);
  EXPECT_EQ(seen.join(u'/'),
            QString::fromUtf8("执法记录仪管理软件(KBC-Q7)/仅支持数字或大小写字母!"));
  EXPECT_TRUE(field(idc::user_number_field)->text().isEmpty());
}

TEST_F(MainFrameTest, ClicksDuringASessionRunAfterItInSessionsOfTheirOwnInOrder) {
  verify("888888");
  bus.clear_wire();
  bar()->list(idc::video_list)->setCurrentIndex(2);
  bar()->list(idc::segment_list)->setCurrentIndex(1);
  // While the next verification waits on the recorder, the operator clicks two more buttons.
  pause.hook = [this] {
    click(idc::video);
    click(idc::segment);
    EXPECT_TRUE(frame->busy());
    EXPECT_EQ(lines().size(), 2);  // the recorder and its verification; nothing of this session
  };
  click(idc::verify);
  settle(*frame);
  EXPECT_EQ(sessions(), QStringList({"-3E6", "-3H", "3r"})) << sessions().join(u' ').toStdString();
  EXPECT_EQ(lines().mid(2), QStringList({QString::fromUtf8("成功设置系统时间:2024-6-5 7:8:9"),
                                         QString::fromUtf8("录像尺寸设置为1920X1080(30)成功!"),
                                         QString::fromUtf8("录像分段10分钟设置成功")}));
  EXPECT_EQ(bus.open_handles(), 0);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainFrameTest, ClosingDuringASessionFinishesItDropsQueuedClicksAndCloses) {
  verify("888888");
  bus.clear_wire();
  pause.hook = [this] {
    click(idc::msdc);
    frame->close();
    EXPECT_TRUE(frame->isVisible());  // until the running handler is done
  };
  click(idc::verify);
  settle(*frame);
  EXPECT_FALSE(frame->isVisible());
  EXPECT_EQ(sessions(), QStringList({"-3E6"}));
  EXPECT_EQ(bus.open_handles(), 0);
  EXPECT_EQ(last_line(), QString::fromUtf8("成功设置系统时间:2024-6-5 7:8:9"));
}

TEST_F(MainFrameTest, ClosingAtTheEraseQuestionsErasesNothing) {
  verify("888888");
  bus.clear_wire();
  pause.hook = [this] { frame->close(); };
  click(idc::erase);
  settle(*frame);
  EXPECT_FALSE(frame->isVisible());
  EXPECT_EQ(sessions(), QStringList({"3"}));
  EXPECT_EQ(last_line(), QString::fromUtf8("清除操作取消!"));
}

TEST_F(MainFrameTest, PasswordDialogRunsItsAttemptsOnTheConsoleThread) {
  verify("888888");
  pause.off_ui_thread.clear();
  QStringList messages;
  const ModalAnswers on_modal({
      [](QWidget* dialog) {
        auto* dlg = qobject_cast<CPasswordDlg*>(dialog);
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(dlg->windowTitle(), QString::fromUtf8("管理员密码修改"));
        for (const int id : {idc::old_password, idc::new_password, idc::confirm_password}) {
          QTest::keyClicks(dlg->control(id), id == idc::old_password ? "888888" : "Zz9999");
        }
        QTest::mouseClick(qobject_cast<QPushButton*>(dlg->control(idc::confirm_super)),
                          Qt::LeftButton);
      },
      [&](QWidget* box) {
        messages.push_back(qobject_cast<QMessageBox*>(box)->text());
        qobject_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
      },
  });
  click(idc::change_password);
  settle(*frame);
  EXPECT_EQ(on_modal.answered(), 2u);
  EXPECT_EQ(messages, QStringList{QString::fromUtf8("修改密码成功!")});
  EXPECT_EQ(recorder.state().admin_password, "Zz9999");
  ASSERT_FALSE(pause.off_ui_thread.empty());
  EXPECT_EQ(std::set<bool>(pause.off_ui_thread.begin(), pause.off_ui_thread.end()),
            std::set<bool>{true});
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(MainFrameTest, UserNumberWithItsRefreshAgainstARecorderThatStopsAnsweringEndsInOrder) {
  verify("888888");
  bus.clear_wire();
  // After the password check the recorder takes every command and answers none of them.
  for (const char letter : {'}', 'J', 'J'}) {
    recorder.inject({sim::Fault::Kind::timeout, sim::Fault::Stage::in, letter});
  }
  QTest::keyClicks(field(idc::user_number_field), QStringLiteral("A17"));
  QStringList messages;
  const ModalAnswers on_modal({[&](QWidget* box) {
    messages.push_back(qobject_cast<QMessageBox*>(box)->text());
    qobject_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
  }});
  click(idc::user_number);
  settle(*frame);
  EXPECT_EQ(sessions(), QStringList({"3}", "J", "J"}));
  EXPECT_EQ(lines().last(), QString::fromUtf8("重新连接!"));
  EXPECT_EQ(messages, QStringList{QString::fromUtf8("重新连接!")});
  EXPECT_EQ(bus.open_handles(), 0);
}

TEST_F(MainFrameTest, ComesBackFromMinimisedToNormalSize) {
  frame->showMinimized();
  frame->come_forward(QStringLiteral("token-1"));
  EXPECT_FALSE(frame->windowState() & Qt::WindowMinimized);
  EXPECT_EQ(qEnvironmentVariable("XDG_ACTIVATION_TOKEN"), QStringLiteral("token-1"));
  qunsetenv("XDG_ACTIVATION_TOKEN");
}

}  // namespace
}  // namespace kbc::app
