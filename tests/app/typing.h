// Typing into a widget as the keyboard or an input method would, one character at a time; unlike
// QTest::keyClicks it carries any text, Chinese included.
#pragma once

#include <QString>
#include <QTest>

namespace kbc::app {

inline void type_text(QWidget* widget, const QString& text) {
  for (const QChar ch : text) {
    QTest::sendKeyEvent(QTest::Press, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    QTest::sendKeyEvent(QTest::Release, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
  }
}

}  // namespace kbc::app
