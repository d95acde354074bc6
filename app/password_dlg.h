// CPasswordDlg: the password-change dialog of template 138, a Qt window around
// console::PasswordDialog, which holds the role and the procedures. Given the console thread,
// the procedures run there, one after the other, and the dialog keeps answering meanwhile.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <map>
#include <memory>

#include "console/password_dialog.h"

class QLineEdit;

namespace kbc::app {

class ConsoleThread;

class CPasswordDlg final : public QDialog {
  Q_OBJECT

 public:
  // Shows one report of the dialog; the default is a modal message box with the report's icon
  // and the application's title.
  using MessageSink =
      std::function<void(QWidget* parent, const QString& text, console::MessageIcon icon)>;

  // Without a console thread the procedures run at once, on this thread.
  CPasswordDlg(QWidget* parent, console::PasswordDialog& dialog, MessageSink messages = {},
               ConsoleThread* console = nullptr);
  ~CPasswordDlg() override;

  // The control of the template with this id; nullptr for none.
  QWidget* control(int id) const;

  // Cancel, Esc and the close button wait for an attempt under way, as the other buttons do.
  void reject() override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  class Window;

  void build();
  void initialise();
  QLineEdit* field(int id) const;
  // Runs a procedure of the console with the dialog as its view.
  void run_console(std::function<void(console::DialogView&)> procedure);

  console::PasswordDialog& dialog_;
  MessageSink messages_;
  ConsoleThread* console_;
  std::map<int, QWidget*> controls_;  // owned by the dialog as their Qt parent
  std::unique_ptr<Window> window_;
  std::unique_ptr<console::DialogView> carried_;  // the window as the console thread sees it
};

// What the main frame runs for "修改密码": the dialog, modally, until it closes.
void run_password_dialog(QWidget* parent, console::PasswordDialog& dialog,
                         ConsoleThread* console = nullptr);

}  // namespace kbc::app
