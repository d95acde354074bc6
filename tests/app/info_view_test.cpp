#include "app/info_view.h"

#include <QTextBlock>

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTest>

#include "typing.h"

namespace kbc::app {
namespace {

class InfoViewTest : public ::testing::Test {
 protected:
  InfoViewTest() : pane(nullptr) {
    pane.resize(375, 100);
    pane.show();
  }
  QString log() const { return pane.toPlainText(); }
  CFtpInfoView pane;
};

TEST_F(InfoViewTest, AppendsLinesUnderAnEmptyFirstLine) {
  EXPECT_EQ(g_pInfoView, &pane);
  const struct {
    const char* text;
    const char* log;
  } rows[] = {
      {"重新连接!", "\n重新连接!"},
      {"", "\n重新连接!\n"},
      {"序列号:KBC0001\r\n用户编号:000001", "\n重新连接!\n\n序列号:KBC0001\n用户编号:000001"},
  };
  for (const auto& row : rows) {
    pane.append_info(QString::fromUtf8(row.text));
    EXPECT_EQ(log(), QString::fromUtf8(row.log)) << row.text;
  }
  EXPECT_EQ(pane.document()->blockCount(), 5);
}

TEST_F(InfoViewTest, AppendGoesToTheEndWhereverTheCaretIsAndIntoView) {
  for (int i = 0; i < 100; ++i) {
    pane.append_info(QString::number(i));
  }
  QTextCursor caret = pane.textCursor();
  caret.setPosition(2);
  caret.setPosition(3, QTextCursor::KeepAnchor);
  pane.setTextCursor(caret);
  pane.verticalScrollBar()->setValue(0);
  pane.append_info(QStringLiteral("newest"));
  QCoreApplication::processEvents();
  EXPECT_TRUE(log().endsWith(QStringLiteral("\n99\nnewest")));
  EXPECT_TRUE(log().startsWith(QStringLiteral("\n0\n1\n")));
  // The newest line is whole in view, however tall the face's lines are.
  EXPECT_GT(pane.verticalScrollBar()->value(), 0);
  const QRect newest = pane.cursorRect(QTextCursor(pane.document()->lastBlock()));
  EXPECT_TRUE(pane.viewport()->rect().contains(newest));
}

TEST_F(InfoViewTest, TypingChangesNothing) {
  pane.append_info(QStringLiteral("abc"));
  const QString before = log();
  QTest::keyClicks(&pane, QStringLiteral("xyz 1"));
  type_text(&pane, QString::fromUtf8("密码"));
  for (const Qt::Key key : {Qt::Key_Backspace, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Tab}) {
    QTest::keyClick(&pane, key);
  }
  EXPECT_EQ(log(), before);
}

TEST_F(InfoViewTest, DeleteCutCopyPasteAndUndoOfTheOperatorsEditsWork) {
  pane.append_info(QStringLiteral("abc"));
  QTest::keyClick(&pane, Qt::Key_Home);
  QTest::keyClick(&pane, Qt::Key_Delete);
  EXPECT_EQ(log(), QStringLiteral("\nbc"));
  QTest::keyClick(&pane, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(log(), QStringLiteral("\nabc"));

  QTest::keyClick(&pane, Qt::Key_Home);
  QTest::keyClick(&pane, Qt::Key_End, Qt::ShiftModifier);
  QTest::keyClick(&pane, Qt::Key_X, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("abc"));
  QTest::keyClick(&pane, Qt::Key_V, Qt::ControlModifier);
  QTest::keyClick(&pane, Qt::Key_Insert, Qt::ShiftModifier);
  EXPECT_EQ(log(), QStringLiteral("\nabcabc"));

  // An append is no edit of the operator's: undo leaves it, and the history before it, alone.
  pane.append_info(QStringLiteral("def"));
  QTest::keyClick(&pane, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(log(), QStringLiteral("\nabcabc\ndef"));
}

}  // namespace
}  // namespace kbc::app
