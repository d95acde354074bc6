#include "app/password_dlg.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include "app/console_edit.h"
#include "app/dialog_template.h"
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

void show_message_box(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Warning, text::app_title(), text, QMessageBox::Ok, parent);
  box.exec();
}

}  // namespace

// The dialog as the console's procedures see it.
class CPasswordDlg::Window final : public console::DialogView {
 public:
  explicit Window(CPasswordDlg& dlg) : dlg_(dlg) {}

  std::string field_text(int id) override {
    QLineEdit* edit = dlg_.field(id);
    return edit ? edit->text().toStdString() : std::string();
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
  void show_message(std::string_view text) override { dlg_.messages_(&dlg_, from_utf8(text)); }
  void accept() override { dlg_.accept(); }

 private:
  CPasswordDlg& dlg_;
};

CPasswordDlg::CPasswordDlg(QWidget* parent, console::PasswordDialog& dialog, MessageSink messages)
    : QDialog(parent),
      dialog_(dialog),
      messages_(messages ? std::move(messages) : MessageSink(show_message_box)),
      window_(std::make_unique<Window>(*this)) {
  build();
  dialog_.initialise(*window_);
}

CPasswordDlg::~CPasswordDlg() = default;

void CPasswordDlg::build() {
  const DialogTemplate dialog_template = password_template();
  setWindowTitle(dialog_template.title);
  const QFont font = template_font(dialog_template);
  setFont(font);
  const BaseUnits base = base_units(font);
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
        connect(edit, &QLineEdit::textChanged, this,
                [this, id] { dialog_.on_field_changed(*window_, id); });
        widget = edit;
        break;
      }
      case TemplateControl::Kind::button: {
        auto* button = new QPushButton(control.text, this);
        if (id == idc::cancel) {
          connect(button, &QPushButton::clicked, this, &QDialog::reject);
        } else {
          connect(button, &QPushButton::clicked, this,
                  [this, id] { dialog_.on_command(*window_, id); });
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
    dialog_.on_command(*window_, idc::ok);
    return;
  }
  QDialog::keyPressEvent(event);
}

void run_password_dialog(QWidget* parent, console::PasswordDialog& dialog) {
  CPasswordDlg dlg(parent, dialog);
  dlg.exec();
}

}  // namespace kbc::app
