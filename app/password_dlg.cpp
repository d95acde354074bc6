#include "app/password_dlg.h"

#include <QEventLoop>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include "app/caption_fit.h"
#include "app/carried_view.h"
#include "app/console_edit.h"
#include "app/dialog_template.h"
#include "app/field_text.h"
#include "app/strings.h"
#include "console/control_ids.h"

namespace kbc::app {
namespace {

DialogTemplate password_template() {
  QString error;
  auto dialog = load_template(QStringLiteral(":/res/password_dialog.tsv"), &error);
  if (!dialog) {
    // The table is compiled in; without it the build is broken.
    qFatal("dialog template 138: %s", qPrintable(error));
  }
  return *std::move(dialog);
}

void show_message_box(QWidget* parent, const QString& text, console::MessageIcon icon) {
  QMessageBox box(
      icon == console::MessageIcon::information ? QMessageBox::Information : QMessageBox::Warning,
      text::app_title(), text, QMessageBox::Ok, parent);
  box.exec();
}

}  // namespace

// The dialog as the console's procedures see it.
class CPasswordDlg::Window final : public console::DialogView {
 public:
  explicit Window(CPasswordDlg& dlg) : dlg_(dlg) {}

  std::string field_text(int id) override {
    QLineEdit* edit = dlg_.field(id);
    return edit ? field_utf8(edit->text()) : std::string();
  }
  void set_field_text(int id, std::string_view text) override {
    if (QLineEdit* edit = dlg_.field(id)) {
      edit->setText(from_utf8(text));
    }
  }
  void limit_field(int id, int characters) override {
    if (QLineEdit* edit = dlg_.field(id)) {
      edit->setMaxLength(characters);
    }
  }
  void show_control(int id, bool visible) override {
    if (QWidget* widget = dlg_.control(id)) {
      widget->setVisible(visible);
    }
  }
  void set_title(std::string_view title) override { dlg_.setWindowTitle(from_utf8(title)); }
  void halve_width() override { dlg_.setFixedSize(dlg_.width() / 2, dlg_.height()); }
  void show_message(std::string_view text, console::MessageIcon icon) override {
    dlg_.messages_(&dlg_, from_utf8(text), icon);
  }
  void accept() override { dlg_.accept(); }

 private:
  CPasswordDlg& dlg_;
};

CPasswordDlg::CPasswordDlg(QWidget* parent, console::PasswordDialog& dialog, MessageSink messages,
                           ConsoleThread* console)
    : QDialog(parent),
      dialog_(dialog),
      messages_(messages ? std::move(messages) : MessageSink(show_message_box)),
      console_(console),
      window_(std::make_unique<Window>(*this)) {
  if (console_) {
    carried_ = std::make_unique<CarriedDialogView>(*console_, *window_);
  }
  build();
  initialise();
}

void CPasswordDlg::initialise() {
  if (!console_) {
    dialog_.initialise(*window_);
    return;
  }
  // The dialog shows only once it is set up for its role. Meanwhile the operator's input waits,
  // as nothing may reach the console before the dialog is up.
  QEventLoop ready;
  console_->post_in_modal([this, &ready] {
    dialog_.initialise(*carried_);
    console_->carry([&ready] { ready.quit(); });
  });
  ready.exec(QEventLoop::ExcludeUserInputEvents);
}

void CPasswordDlg::run_console(std::function<void(console::DialogView&)> procedure) {
  if (!console_) {
    procedure(*window_);
    return;
  }
  console_->post_in_modal([this, procedure = std::move(procedure)] { procedure(*carried_); });
}

void CPasswordDlg::reject() {
  if (!console_) {
    QDialog::reject();
    return;
  }
  console_->post_in_modal([this] { console_->carry([this] { QDialog::reject(); }); });
}

CPasswordDlg::~CPasswordDlg() {
  // No attempt of the console may reach the dialog once it is gone.
  if (console_) {
    console_->end_modal();
  }
}

void CPasswordDlg::build() {
  const DialogTemplate dialog_template = password_template();
  setWindowTitle(dialog_template.title);
  setFont(template_font(dialog_template));
  const BaseUnits base = base_units(dialog_template, logicalDpiY());
  setFixedSize(to_pixels(dialog_template.units, base));

  for (const TemplateControl& control : dialog_template.controls) {
    QWidget* widget = nullptr;
    const int id = control.id;
    switch (control.kind) {
      case TemplateControl::Kind::group:
        widget = new QGroupBox(control.text, this);
        break;
      case TemplateControl::Kind::ctext:
      case TemplateControl::Kind::ltext: {
        auto* label = new QLabel(control.text, this);
        label->setAlignment(text_alignment(control));
        widget = label;
        break;
      }
      case TemplateControl::Kind::edit: {
        auto* edit = new TypedEdit(this);
        if (control.password) {
          edit->setEchoMode(QLineEdit::Password);
        }
        connect(edit, &QLineEdit::textChanged, this, [this, id] {
          run_console(
              [this, id](console::DialogView& view) { dialog_.on_field_changed(view, id); });
        });
        widget = edit;
        break;
      }
      case TemplateControl::Kind::button: {
        auto* button = new QPushButton(control.text, this);
        if (id == idc::cancel) {
          connect(button, &QPushButton::clicked, this, &QDialog::reject);
        } else {
          connect(button, &QPushButton::clicked, this, [this, id] {
            run_console([this, id](console::DialogView& view) { dialog_.on_command(view, id); });
          });
        }
        button->setDefault(control.default_button);
        widget = button;
        break;
      }
      case TemplateControl::Kind::list:
        // Template 138 has no list.
        continue;
    }
    widget->setGeometry(to_pixels(control.units, base));
    if (control.kind != TemplateControl::Kind::group) {
      fit_caption(*widget);
    }
    if (control.hidden) {
      widget->hide();
    }
    if (id > 0) {
      controls_[id] = widget;
    }
  }
  if (QWidget* first = control(idc::old_password)) {
    first->setFocus();
  }
}

QWidget* CPasswordDlg::control(int id) const {
  const auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : found->second;
}

QLineEdit* CPasswordDlg::field(int id) const {
  return qobject_cast<QLineEdit*>(control(id));
}

void CPasswordDlg::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
    run_console([this](console::DialogView& view) { dialog_.on_command(view, idc::ok); });
    return;
  }
  QDialog::keyPressEvent(event);
}

void run_password_dialog(QWidget* parent, console::PasswordDialog& dialog, ConsoleThread* console) {
  CPasswordDlg dlg(parent, dialog, {}, console);
  dlg.exec();
}

}  // namespace kbc::app
