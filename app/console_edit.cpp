#include "app/console_edit.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMouseEvent>

#include "app/field_text.h"
#include "link/gbk.h"
#include "link/secret.h"

namespace kbc::app {
namespace {

bool is_paste(const QKeyEvent& event) {
  // Ctrl+Shift+V and the other Ctrl+V variants paste on some platforms too.
  const bool ctrl_v = event.key() == Qt::Key_V && (event.modifiers() & Qt::ControlModifier);
  return ctrl_v || event.matches(QKeySequence::Paste);
}

// The middle button pastes the X11 selection.
bool is_paste_button(const QMouseEvent& event) {
  return event.button() == Qt::MiddleButton;
}

}  // namespace

QValidator::State GbkValidator::validate(QString& input, int&) const {
  // Every keystroke in the password field comes here with the password.
  const link::Secret text = field_utf8(input);
  const auto size = link::gbk_size(text.view());
  return size && *size <= static_cast<std::size_t>(limit_) ? Acceptable : Invalid;
}

TypedEdit::TypedEdit(QWidget* parent) : QLineEdit(parent) {
  setContextMenuPolicy(Qt::NoContextMenu);
  setAcceptDrops(false);
}

void TypedEdit::keyPressEvent(QKeyEvent* event) {
  if (is_paste(*event)) {
    event->accept();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

void TypedEdit::mousePressEvent(QMouseEvent* event) {
  if (is_paste_button(*event)) {
    event->accept();
    return;
  }
  QLineEdit::mousePressEvent(event);
}

void TypedEdit::mouseReleaseEvent(QMouseEvent* event) {
  if (is_paste_button(*event)) {
    event->accept();
    return;
  }
  QLineEdit::mouseReleaseEvent(event);
}

void TypedEdit::dragEnterEvent(QDragEnterEvent* event) {
  event->ignore();
}

void TypedEdit::dropEvent(QDropEvent* event) {
  event->ignore();
}

ConsoleEdit::ConsoleEdit(QWidget* parent) : TypedEdit(parent), validator_(new GbkValidator(this)) {
  setValidator(validator_);
}

}  // namespace kbc::app
