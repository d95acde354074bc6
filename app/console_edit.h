// The settings bar's text fields (password, unit and user number and name): text is typed, never
// pasted or dropped, and the length limit counts GBK bytes, as the recorder stores the text.
#pragma once

#include <QLineEdit>
#include <QValidator>

namespace kbc::app {

// Accepts a text while its GBK form fits the limit; a character GBK lacks is refused outright.
class GbkValidator final : public QValidator {
 public:
  explicit GbkValidator(QObject* parent) : QValidator(parent) {}

  void set_limit(int bytes) { limit_ = bytes; }
  int limit() const { return limit_; }

  State validate(QString& input, int& pos) const override;

 private:
  int limit_ = 32767;  // the edit control's own limit until the console sets one
};

class ConsoleEdit final : public QLineEdit {
  Q_OBJECT

 public:
  explicit ConsoleEdit(QWidget* parent);

  void set_gbk_limit(int bytes) { validator_->set_limit(bytes); }
  int gbk_limit() const { return validator_->limit(); }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  GbkValidator* validator_;
};

}  // namespace kbc::app
