#include "app/info_view.h"

#include <QFontDatabase>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QTextCursor>
#include <QtMath>

#include "app/fonts.h"

namespace kbc::app {

CFtpInfoView* g_pInfoView = nullptr;

namespace {

// Characters, Backspace and Enter never reach the log; editing keys, shortcuts and caret
// movement do. Tab moves the focus on.
bool is_typing(const QKeyEvent& event) {
  switch (event.key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return true;
    default:
      break;
  }
  if (event.modifiers() & Qt::ControlModifier) {
    return false;
  }
  const QString text = event.text();
  return !text.isEmpty() && text.front().isPrint();
}

}  // namespace

QFont info_font() {
  for (const QString& face : {QStringLiteral("宋体"), QStringLiteral("SimSun")}) {
    if (QFontDatabase::hasFamily(face)) {
      return QFont(face, 9);
    }
  }
  QFont font = cjk_font();
  font.setPointSize(9);
  return font;
}

CFtpInfoView::CFtpInfoView(QWidget* parent) : QPlainTextEdit(parent) {
  g_pInfoView = this;
  setFont(info_font());
  // Long lines scroll sideways, as in the edit view, rather than wrapping.
  setLineWrapMode(QPlainTextEdit::NoWrap);
  // The platform's edit control took no drops, so nothing can be dragged into or within the log.
  setAcceptDrops(false);
  setAttribute(Qt::WA_InputMethodEnabled, false);
  // Tab and Shift+Tab leave the log for the next control, as in a dialog.
  setTabChangesFocus(true);
}

CFtpInfoView::~CFtpInfoView() {
  if (g_pInfoView == this) {
    g_pInfoView = nullptr;
  }
}

void CFtpInfoView::append_info(const QString& text) {
  QString line = text;
  // A CR LF is one line break; QTextCursor would make a block of each of its two characters.
  line.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QTextDocument* log = document();
  // Switching undo off drops the undo history, so the append never ends up in it.
  log->setUndoRedoEnabled(false);
  QTextCursor end(log);
  end.movePosition(QTextCursor::End);
  end.insertText(QLatin1Char('\n') + line);
  log->setUndoRedoEnabled(true);
  // Appending always goes to the end, wherever the operator left the caret, and the caret
  // follows it so that the newest line is in view.
  setTextCursor(end);
  ensureCursorVisible();
}

int CFtpInfoView::height_for_lines(int lines) const {
  const int chrome = 2 * frameWidth();
  const int margins = qCeil(2 * document()->documentMargin());
  return chrome + margins + lines * fontMetrics().lineSpacing();
}

int CFtpInfoView::visible_lines() const {
  const int margins = qCeil(2 * document()->documentMargin());
  return (viewport()->height() - margins) / fontMetrics().lineSpacing();
}

void CFtpInfoView::keyPressEvent(QKeyEvent* event) {
  // Ctrl+Tab, the way out of a text that takes Tab elsewhere, leaves it too.
  if (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab) {
    focusNextPrevChild(event->key() == Qt::Key_Tab && !(event->modifiers() & Qt::ShiftModifier));
    event->accept();
    return;
  }
  if (is_typing(*event)) {
    event->accept();
    return;
  }
  QPlainTextEdit::keyPressEvent(event);
}

void CFtpInfoView::inputMethodEvent(QInputMethodEvent* event) {
  event->accept();
}

}  // namespace kbc::app
