#include "app/password_dlg.h"

#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QStringList>
#include <QTextStream>
#include <vector>

#include "console/console.h"
#include "console/control_ids.h"

namespace kbc::app {
namespace {

constexpr auto kTemplatePath = ":/res/password_dialog.tsv";

// Where the template's font is not installed (it is a Windows font), the first of these that is
// takes its place.
const QStringList kCjkFallbacks = {"SimSun",
                                   "NSimSun",
                                   "Noto Serif CJK SC",
                                   "Noto Sans CJK SC",
                                   "Source Han Sans SC",
                                   "WenQuanYi Zen Hei",
                                   "WenQuanYi Micro Hei"};

struct TemplateControl {
  QString kind;
  int id;
  QRect units;
  QString text;
};

struct DialogTemplate {
  QString title;
  QString font_family;
  int point_size = 0;
  QSize units;
  std::vector<TemplateControl> controls;
};

QString unescape(QString text) {
  return text.replace(QStringLiteral("\\n"), QStringLiteral("\n"));
}

DialogTemplate load_template() {
  QFile file(kTemplatePath);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
    // The table is compiled in; without it the build is broken.
    qFatal("dialog template 138 is missing");
  }
  DialogTemplate result;
  QTextStream in(&file);
  while (!in.atEnd()) {
    const QString line = in.readLine();
    if (line.isEmpty() || line.startsWith('#')) {
      continue;
    }
    const QStringList cells = line.split('\t');
    const QString& kind = cells.at(0);
    if (kind == QStringLiteral("dialog")) {
      result.units = {cells.at(4).toInt(), cells.at(5).toInt()};
      result.title = cells.at(6);
    } else if (kind == QStringLiteral("font")) {
      result.point_size = cells.at(1).toInt();
      result.font_family = cells.at(2);
    } else {
      result.controls.push_back({kind, cells.at(1).toInt(),
                                 QRect(cells.at(2).toInt(), cells.at(3).toInt(),
                                       cells.at(4).toInt(), cells.at(5).toInt()),
                                 unescape(cells.value(6))});
    }
  }
  return result;
}

// Dialog units scale with the font: a quarter of its average character width across, an eighth of
// its height down.
struct BaseUnits {
  int x;
  int y;

  explicit BaseUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    x = (width / 26 + 1) / 2;
    y = metrics.height();
  }
  QRect pixels(const QRect& units) const {
    return {units.x() * x / 4, units.y() * y / 8, units.width() * x / 4, units.height() * y / 8};
  }
  QSize pixels(const QSize& units) const { return {units.width() * x / 4, units.height() * y / 8}; }
};

// The password fields are typed into, never pasted into: no context menu, no paste keys, no
// middle-click selection paste, no dropped text.
class TypingOnly final : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    switch (event->type()) {
      case QEvent::ContextMenu:
      case QEvent::DragEnter:
      case QEvent::DragMove:
      case QEvent::Drop:
        return true;
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick: {
        const Qt::MouseButton button = static_cast<QMouseEvent*>(event)->button();
        return button == Qt::MiddleButton || button == Qt::RightButton;
      }
      case QEvent::KeyPress:
        return static_cast<QKeyEvent*>(event)->matches(QKeySequence::Paste);
      default:
        return false;
    }
  }
};

QString from_utf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void show_message_box(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Warning, from_utf8(console::kAppTitle), text, QMessageBox::Ok,
                  parent);
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
  const DialogTemplate dialog_template = load_template();
  setWindowTitle(dialog_template.title);
  QFont font(dialog_template.font_family, dialog_template.point_size);
  font.setFamilies(QStringList{dialog_template.font_family} + kCjkFallbacks);
  setFont(font);
  const BaseUnits units(font);
  setFixedSize(units.pixels(dialog_template.units));

  auto* typing_only = new TypingOnly(this);
  for (const TemplateControl& control : dialog_template.controls) {
    QWidget* widget = nullptr;
    if (control.kind == QStringLiteral("group")) {
      widget = new QGroupBox(control.text, this);
    } else if (control.kind == QStringLiteral("label") ||
               control.kind == QStringLiteral("static")) {
      auto* label = new QLabel(control.text, this);
      label->setAlignment(control.kind == QStringLiteral("static")
                              ? Qt::AlignLeft | Qt::AlignTop
                              : Qt::AlignLeft | Qt::AlignVCenter);
      widget = label;
    } else if (control.kind == QStringLiteral("edit")) {
      auto* edit = new QLineEdit(this);
      if (control.text == QStringLiteral("password")) {
        edit->setEchoMode(QLineEdit::Password);
      }
      edit->setContextMenuPolicy(Qt::NoContextMenu);
      edit->setAcceptDrops(false);
      edit->installEventFilter(typing_only);
      const int id = control.id;
      connect(edit, &QLineEdit::textChanged, this,
              [this, id] { dialog_.on_field_changed(*window_, id); });
      widget = edit;
    } else if (control.kind == QStringLiteral("button") ||
               control.kind == QStringLiteral("default")) {
      auto* button = new QPushButton(control.text, this);
      const int id = control.id;
      if (id == idc::cancel) {
        connect(button, &QPushButton::clicked, this, &QDialog::reject);
      } else {
        connect(button, &QPushButton::clicked, this,
                [this, id] { dialog_.on_command(*window_, id); });
      }
      if (control.kind == QStringLiteral("default")) {
        // Enter's command; never seen.
        button->setDefault(true);
        button->hide();
      }
      widget = button;
    } else {
      continue;
    }
    widget->setGeometry(units.pixels(control.units));
    if (control.id > 0) {
      controls_[control.id] = widget;
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
