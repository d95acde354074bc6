// The problems of a profile file, shown before anything is sent: a modal box with the warning
// icon and the application's title, a heading and every problem on a line of its own, wrapped at
// word boundaries and scrolled when there are many. Problems are shown as text, never as markup.
#pragma once

#include <QDialog>
#include <QStringList>

class QLabel;
class QPlainTextEdit;

namespace kbc::app {

class ProfileProblemsBox final : public QDialog {
  Q_OBJECT

 public:
  ProfileProblemsBox(const QString& heading, const QStringList& problems, QWidget* parent);

  QLabel* heading() const { return heading_; }
  QPlainTextEdit* problems() const { return problems_; }

 private:
  QLabel* heading_;
  QPlainTextEdit* problems_;
};

}  // namespace kbc::app
