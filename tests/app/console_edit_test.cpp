#include "app/console_edit.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QTest>

namespace kbc::app {
namespace {

class ConsoleEditTest : public ::testing::Test {
 protected:
  ConsoleEditTest() : edit(nullptr) {
    edit.resize(200, 24);
    edit.setText(QStringLiteral("abcdef"));
    QGuiApplication::clipboard()->setText(QStringLiteral("pasted"));
  }
  ConsoleEdit edit;
};

TEST_F(ConsoleEditTest, PasteKeysAreRefusedTypingIsNot) {
  const struct {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
  } rows[] = {
      {Qt::Key_V, Qt::ControlModifier},
      {Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier},
      {Qt::Key_Insert, Qt::ShiftModifier},
      {Qt::Key_Paste, Qt::NoModifier},
  };
  for (const auto& row : rows) {
    QKeyEvent press(QEvent::KeyPress, row.key, row.modifiers);
    QApplication::sendEvent(&edit, &press);
    EXPECT_EQ(edit.text(), QStringLiteral("abcdef")) << row.key;
  }
  QTest::keyClicks(&edit, QStringLiteral("g"));
  EXPECT_EQ(edit.text(), QStringLiteral("abcdefg"));
}

TEST_F(ConsoleEditTest, MiddleButtonNeitherPastesNorMovesTheCaret) {
  // Where there is no X11 selection to paste, a plain field still moves its caret.
  edit.setCursorPosition(6);
  QTest::mouseClick(&edit, Qt::MiddleButton, {}, QPoint(2, edit.height() / 2));
  EXPECT_EQ(edit.cursorPosition(), 6);
  EXPECT_EQ(edit.text(), QStringLiteral("abcdef"));
  EXPECT_EQ(edit.contextMenuPolicy(), Qt::NoContextMenu);
}

TEST_F(ConsoleEditTest, DroppedTextIsRefused) {
  QMimeData mime;
  mime.setText(QStringLiteral("dropped"));
  QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&edit, &enter);
  EXPECT_FALSE(enter.isAccepted());
  QDropEvent drop(QPointF(2, 2), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&edit, &drop);
  EXPECT_EQ(edit.text(), QStringLiteral("abcdef"));
}

}  // namespace
}  // namespace kbc::app
