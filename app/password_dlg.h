// CPasswordDlg: the password-change dialog of template 138, a Qt window around
// console::PasswordDialog, which holds the role and the procedures.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <map>
#include <memory>

#include "console/password_dialog.h"

class QLineEdit;

namespace kbc::app {

class CPasswordDlg final : public QDialog {
 public:
  // Shows one report of the dialog; the default is a modal message box with the exclamation icon
  // and the application's title.
  using MessageSink = std::function<void(QWidget* parent, const QString& text)>;

  CPasswordDlg(QWidget* parent, console::PasswordDialog& dialog, MessageSink messages = {});
  ~CPasswordDlg() override;

  // The control of the template with this id; nullptr for none.
  QWidget* control(int id) const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  class Window;

  void build();
  QLineEdit* field(int id) const;

  console::PasswordDialog& dialog_;
  MessageSink messages_;
  std::map<int, QWidget*> controls_;  // owned by the dialog as their Qt parent
  std::unique_ptr<Window> window_;
};

// What the main frame runs for "修改密码": the dialog, modally, until it closes.
void run_password_dialog(QWidget* parent, console::PasswordDialog& dialog);

}  // namespace kbc::app
