// A cursor shape for the whole application while the guard lives.
#pragma once

#include <QApplication>
#include <QCursor>

namespace kbc::app {

class CursorOverride {
 public:
  explicit CursorOverride(Qt::CursorShape shape) { QApplication::setOverrideCursor(shape); }
  ~CursorOverride() { QApplication::restoreOverrideCursor(); }
  CursorOverride(const CursorOverride&) = delete;
  CursorOverride& operator=(const CursorOverride&) = delete;
};

}  // namespace kbc::app
