// The text fields of the settings bar and the password dialog: text is typed, never pasted or
// dropped. The settings bar's also count their length limit in GBK bytes, as the recorder stores
// the text.
#pragma once

#include <QLineEdit>
#include <QValidator>

namespace kbc::app {

// Accepts a text while its GBK form fits the limit; a character GBK lacks is refused outright.
class GbkValidator final : public QValidator {
 public:
  explicit GbkValidator(QObject* parent) : QValidator(parent) {}

  void set_limit(int bytes) { limit_ = bytes; }

  State validate(QString& input, int& pos) const override;

 private:
  int limit_ = 32767;  // the edit control's own limit until the console sets one
};

// A field that takes typed text only: no paste keys, no middle-button selection paste, no drops,
// no context menu.
class TypedEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit TypedEdit(QWidget* parent);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
};

class ConsoleEdit final : public TypedEdit {
  Q_OBJECT

 public:
  explicit ConsoleEdit(QWidget* parent);

  void set_gbk_limit(int bytes) { validator_->set_limit(bytes); }

 private:
  GbkValidator* validator_;
};

}  // namespace kbc::app
