#include "app/settings_bar.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <string>

#include "app/caption_fit.h"
#include "app/console_edit.h"
#include "link/gbk.h"

namespace kbc::app {
namespace {

std::string gbk_key(const QString& item) {
  const std::string utf8 = item.toStdString();
  const auto gbk = link::GbkText::from_utf8(utf8);
  return gbk ? gbk->bytes() : utf8;
}

}  // namespace

QStringList gbk_sorted(QStringList items) {
  // std::string compares its bytes as unsigned char, which is the code page's order.
  std::stable_sort(items.begin(), items.end(),
                   [](const QString& a, const QString& b) { return gbk_key(a) < gbk_key(b); });
  return items;
}

std::optional<DialogTemplate> settings_bar_template(QString* error) {
  return load_template(QStringLiteral(":/res/settings_bar.tsv"), error);
}

SettingsBar::SettingsBar(const DialogTemplate& dialog, QWidget* parent) : QWidget(parent) {
  setFont(template_font(dialog));
  base_ = app::base_units(dialog, logicalDpiY());

  for (const TemplateControl& row : dialog.controls) {
    QWidget* widget = nullptr;
    QRect pixels = to_pixels(row.units, base_);
    switch (row.kind) {
      case TemplateControl::Kind::group:
        widget = new QGroupBox(row.text, this);
        break;
      case TemplateControl::Kind::ctext:
      case TemplateControl::Kind::ltext: {
        auto* label = new QLabel(row.text, this);
        label->setAlignment(text_alignment(row));
        widget = label;
        break;
      }
      case TemplateControl::Kind::edit: {
        auto* edit = new ConsoleEdit(this);
        if (row.password) {
          edit->setEchoMode(QLineEdit::Password);
        }
        widget = edit;
        break;
      }
      case TemplateControl::Kind::button: {
        auto* button = new QPushButton(row.text, this);
        const int id = row.id;
        connect(button, &QPushButton::clicked, this, [this, id] { emit command(id); });
        button->installEventFilter(this);
        buttons_.push_back(id);
        widget = button;
        break;
      }
      case TemplateControl::Kind::list: {
        // A drop-down list: the operator picks, never types. The template's height is that of
        // the list when dropped down; closed, the box is as tall as its font needs.
        auto* list = new QComboBox(this);
        list->setEditable(false);
        list->addItems(row.items);
        pixels.setHeight(list->sizeHint().height());
        widget = list;
        break;
      }
    }
    widget->setGeometry(pixels);
    if (row.kind != TemplateControl::Kind::group) {
      fit_caption(*widget);
    }
    if (auto* list = qobject_cast<QComboBox*>(widget)) {
      const int closed = list->sizeHint().height();
      list->resize(pixels.width(), closed);
      const int item = QFontMetrics(list->font()).height();
      list->setMaxVisibleItems(std::max(1, (to_pixels(row.units, base_).height() - closed) / item));
    }
    extent_ = extent_.united(widget->geometry());
    if (widget->focusPolicy() & Qt::TabFocus) {
      tab_chain_.push_back(widget);
    }
    if (row.id > 0) {
      controls_[row.id] = widget;
      if (row.sorted) {
        sorted_.insert(row.id);
      }
      if (row.kind == TemplateControl::Kind::list) {
        fill_list(row.id, row.items);
      }
    }
  }
  // As large as the controls with the template's own margins: the template's blank right and
  // bottom parts would only take room from the information pane.
  setFixedSize(extent_.right() + 1 + extent_.left(), extent_.bottom() + 1 + extent_.top());
}

bool SettingsBar::eventFilter(QObject* watched, QEvent* event) {
  // Outside a dialog a button takes only Space; Enter on the focused one presses it as well.
  if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    auto* button = qobject_cast<QPushButton*>(watched);
    if (button && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
      button->click();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

QWidget* SettingsBar::control(int id) const {
  const auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : found->second;
}

ConsoleEdit* SettingsBar::field(int id) const {
  return qobject_cast<ConsoleEdit*>(control(id));
}

QComboBox* SettingsBar::list(int id) const {
  return qobject_cast<QComboBox*>(control(id));
}

QPushButton* SettingsBar::button(int id) const {
  return qobject_cast<QPushButton*>(control(id));
}

void SettingsBar::fill_list(int id, const QStringList& items) {
  QComboBox* box = list(id);
  if (!box) {
    return;
  }
  box->clear();
  box->addItems(sorted_.count(id) ? gbk_sorted(items) : items);
  box->setCurrentIndex(-1);
}

}  // namespace kbc::app
