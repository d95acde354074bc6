// The main window's geometry with the fonts this machine has. CTest also runs these on an X
// server of their own, once with only Noto Sans CJK and once with only WenQuanYi Zen Hei visible.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <memory>

#include "app/caption_fit.h"
#include "app/info_view.h"
#include "app/main_frame.h"
#include "app/password_dlg.h"
#include "app/recorder_picker.h"
#include "app/settings_bar.h"
#include "frame_fixture.h"
#include "tests/console/station_profile.h"

namespace kbc::app {
namespace {

using FrameGeometry = FrameFixture;

// Where a screenshot goes, named after the fonts CTest made visible, where it did.
QString screenshot(const QString& what) {
  const QString fonts = qEnvironmentVariable("KBC_FONTS", QStringLiteral("system"));
  return QStringLiteral(KBC_TEST_OUTPUT_DIR "/kbc-q7-%1-%2.png").arg(what, fonts);
}

// Where a control of the bar is, in the coordinates of the bar's visible part.
QRect in_viewport(const BarScroller& scroller, const QWidget& control) {
  return QRect(control.mapTo(scroller.viewport(), QPoint(0, 0)), control.size());
}

// The bottom of the line'th line of the pane (line 0 is the log's empty first line), with the
// log scrolled to its top.
int line_bottom(CFtpInfoView& pane, int line) {
  pane.verticalScrollBar()->setValue(0);
  QTextCursor cursor(pane.document()->findBlockByNumber(line));
  return pane.cursorRect(cursor).bottom();
}

TEST_F(FrameGeometry, WholeBarAndFiveLinesAtTheFullHeight) {
  if (frame->height() < frame_size(frame->logicalDpiY(), nullptr).height()) {
    GTEST_SKIP() << "the screen is shorter than the window";
  }
  const BarScroller& scroller = *frame->bar_scroller();
  EXPECT_FALSE(scroller.verticalScrollBar()->isVisible());
  EXPECT_FALSE(scroller.horizontalScrollBar()->isVisible());
  const QRect window = frame->rect();
  for (const QWidget* control : bar()->findChildren<QWidget*>()) {
    if (!control->isVisible() || control->parentWidget() != bar()) {
      continue;
    }
    const QRect in_window(control->mapTo(frame.get(), QPoint(0, 0)), control->size());
    EXPECT_TRUE(window.contains(in_window)) << control->metaObject()->className();
    EXPECT_TRUE(scroller.viewport()->rect().contains(in_viewport(scroller, *control)));
  }

  CFtpInfoView& pane = *frame->info_view();
  for (int n = 1; n <= 5; ++n) {
    pane.append_info(QStringLiteral("line %1").arg(n));
  }
  EXPECT_LE(line_bottom(pane, 5), pane.viewport()->height())
      << "viewport " << pane.viewport()->height() << ", line spacing "
      << pane.fontMetrics().lineSpacing();
}

TEST_F(FrameGeometry, OnAShortScreenTheBarScrollsAndThePaneKeepsTwoLines) {
  frame->setFixedSize(frame->width(), 480);
  QApplication::sendPostedEvents();
  frame->centralWidget()->layout()->activate();
  BarScroller& scroller = *frame->bar_scroller();
  for (QWidget* control : bar()->findChildren<QWidget*>()) {
    if (!control->isVisible() || control->parentWidget() != bar()) {
      continue;
    }
    scroller.ensureWidgetVisible(control, 0, 0);
    EXPECT_TRUE(scroller.viewport()->rect().contains(in_viewport(scroller, *control)))
        << control->metaObject()->className();
  }
  CFtpInfoView& pane = *frame->info_view();
  pane.append_info(QStringLiteral("one"));
  pane.append_info(QStringLiteral("two"));
  EXPECT_GE(pane.visible_lines(), kLeastPaneLines);
  EXPECT_LE(line_bottom(pane, 1), pane.viewport()->height());
}

// Each caption whole inside where its control draws text, and a button's within the button.
void expect_captions_fit(const QWidget& window) {
  for (const QWidget* control : window.findChildren<QWidget*>()) {
    const bool captioned = qobject_cast<const QPushButton*>(control) ||
                           qobject_cast<const QLabel*>(control) ||
                           qobject_cast<const QComboBox*>(control);
    if (!captioned || control->parentWidget() != &window) {
      continue;
    }
    const QStringList texts = shown_texts(*control);
    EXPECT_TRUE(fits(*control, control->font())) << texts.join(u'|').toStdString();
    if (const auto* button = qobject_cast<const QPushButton*>(control)) {
      EXPECT_LT(button->fontMetrics().horizontalAdvance(button->text()), button->width());
      EXPECT_LT(button->fontMetrics().height(), button->height());
    }
  }
}

TEST_F(FrameGeometry, NoCaptionIsClipped) {
  expect_captions_fit(*bar());
  for (const auto role : {console::PasswordRole::super, console::PasswordRole::normal}) {
    console::g_passwordRole = static_cast<int>(role);
    console::PasswordDialog logic(bus.link());
    CPasswordDlg dialog(frame.get(), logic);
    expect_captions_fit(dialog);
    if (role == console::PasswordRole::super) {
      EXPECT_TRUE(dialog.grab().save(screenshot(QStringLiteral("password"))));
    }
  }
}

TEST_F(FrameGeometry, ReportLineInViewAfterAVerificationWithAScreenshot) {
  frame->mark_simulated();
  verify("888888");
  bar()->list(idc::ir_list)->setCurrentIndex(1);
  click(idc::ir);
  settle(*frame);
  CFtpInfoView& pane = *frame->info_view();
  const QRect last = pane.cursorRect(QTextCursor(pane.document()->lastBlock()));
  EXPECT_TRUE(pane.viewport()->rect().contains(last));
  EXPECT_EQ(lines().last(), QString::fromUtf8("自动红外设置成功!"));

  const QString path = screenshot(QStringLiteral("window"));
  ASSERT_TRUE(frame->grab().save(path)) << path.toStdString();
}

TEST_F(FrameGeometry, StatusBarWithTheRecorderListOfTwoRecordersWithScreenshots) {
  frame->mark_simulated();
  bus.add_recorder();
  hear_bus(*frame);
  const RecorderPicker& picker = *frame->recorder_picker();
  QComboBox& list = *picker.list();
  ASSERT_TRUE(list.isVisible());
  for (const char* state : {"drawer", "drawer-picked"}) {
    SCOPED_TRACE(state);
    const QRect window = frame->rect();
    for (const QWidget* part : frame->statusBar()->findChildren<QWidget*>()) {
      if (part->isVisible() && !part->isWindow()) {
        EXPECT_TRUE(window.contains(QRect(part->mapTo(frame.get(), QPoint(0, 0)), part->size())))
            << part->metaObject()->className();
      }
    }
    // Nothing squeezed: the label and the list as wide as their texts need.
    EXPECT_GE(picker.label()->width(), picker.label()->sizeHint().width());
    EXPECT_GE(list.width(), list.sizeHint().width());
    const QString path = screenshot(QString::fromLatin1(state));
    EXPECT_TRUE(frame->grab().save(path)) << path.toStdString();
    if (list.currentIndex() < 0) {
      QTest::keyClick(&list, Qt::Key_Down);
      settle(*frame);
    }
  }
  EXPECT_EQ(list.currentIndex(), 0);
}

TEST_F(FrameGeometry, ProfileMenuAndTheReceiptsOfTwoRecordersWithAScreenshot) {
  const QRect bar_area = frame->menuBar()->rect();
  for (QAction* menu : frame->menuBar()->actions()) {
    const QRect item = frame->menuBar()->actionGeometry(menu);
    EXPECT_TRUE(bar_area.contains(item)) << menu->text().toStdString();
    EXPECT_GE(item.width(), frame->menuBar()->fontMetrics().horizontalAdvance(menu->text()));
  }

  frame->mark_simulated();
  bus.add_recorder();
  hear_bus(*frame);
  QTemporaryDir folder;
  const QString path = folder.filePath(QStringLiteral("station.toml"));
  QFile profile(path);
  ASSERT_TRUE(profile.open(QIODevice::WriteOnly));
  profile.write(kbc::testing::kStationProfile.data(),
                static_cast<qint64>(kbc::testing::kStationProfile.size()));
  profile.close();
  field(idc::password)->setText(QStringLiteral("888888"));
  frame->apply_profile_file(path, console::ApplyTo::every);
  settle(*frame);

  CFtpInfoView& pane = *frame->info_view();
  const QRect last = pane.cursorRect(QTextCursor(pane.document()->lastBlock()));
  EXPECT_TRUE(pane.viewport()->rect().contains(last));
  EXPECT_EQ(lines().last(), QString::fromUtf8("配置文件应用完毕: 2台记录仪中2台全部设置成功"));
  const QString shot = screenshot(QStringLiteral("profile"));
  EXPECT_TRUE(frame->grab().save(shot)) << shot.toStdString();
}

}  // namespace
}  // namespace kbc::app
