#include "app/caption_fit.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <algorithm>

namespace kbc::app {
namespace {

constexpr qreal kSmallestPoints = 6;
constexpr qreal kStep = 0.5;
// QLineEdit keeps this much room above and below its text.
constexpr int kLineEditMargin = 1;

}  // namespace

QRect text_room(const QWidget& control) {
  const QStyle* style = control.style();
  if (const auto* button = qobject_cast<const QPushButton*>(&control)) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const int margin = style->pixelMetric(QStyle::PM_ButtonMargin, &option, button) / 2;
    return style->subElementRect(QStyle::SE_PushButtonContents, &option, button)
        .adjusted(margin, 0, -margin, 0);
  }
  if (const auto* edit = qobject_cast<const QLineEdit*>(&control)) {
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.lineWidth = style->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
    return style->subElementRect(QStyle::SE_LineEditContents, &option, edit)
        .adjusted(0, kLineEditMargin, 0, -kLineEditMargin);
  }
  if (const auto* list = qobject_cast<const QComboBox*>(&control)) {
    QStyleOptionComboBox option;
    option.initFrom(list);
    option.editable = false;
    return style->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, list);
  }
  return control.contentsRect();
}

QStringList shown_texts(const QWidget& control) {
  if (const auto* button = qobject_cast<const QPushButton*>(&control)) {
    return {button->text()};
  }
  if (const auto* label = qobject_cast<const QLabel*>(&control)) {
    return {label->text()};
  }
  if (const auto* list = qobject_cast<const QComboBox*>(&control)) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i) {
      items.push_back(list->itemText(i));
    }
    return items;
  }
  // An edit's own text scrolls sideways; what has to fit is the height of a line.
  return {QString()};
}

namespace {

// A closed list draws its current item clipped to its field, whose margins the style adds to the
// text's width; so it shows every item whole when it is as wide as the style wants for the
// widest one, measured by its ink as Qt sizes a list for its contents.
bool list_fits(const QComboBox& list, const QFontMetrics& metrics) {
  int widest = 0;
  for (int i = 0; i < list.count(); ++i) {
    const QString item = list.itemText(i);
    widest =
        std::max({widest, metrics.boundingRect(item).width(), metrics.horizontalAdvance(item)});
  }
  QStyleOptionComboBox option;
  option.initFrom(&list);
  option.editable = false;
  option.frame = list.hasFrame();
  const QSize needed = list.style()->sizeFromContents(QStyle::CT_ComboBox, &option,
                                                      QSize(widest, metrics.height()), &list);
  return needed.width() <= list.width() && metrics.height() <= text_room(list).height();
}

}  // namespace

bool fits(const QWidget& control, const QFont& font) {
  const QFontMetrics metrics(font);
  if (const auto* list = qobject_cast<const QComboBox*>(&control)) {
    return list_fits(*list, metrics);
  }
  const QSize room = text_room(control).size();
  for (const QString& text : shown_texts(control)) {
    const QSize size = text.isEmpty() ? QSize(0, metrics.height()) : metrics.size(0, text);
    if (size.width() > room.width() || size.height() > room.height()) {
      return false;
    }
  }
  return true;
}

void fit_caption(QWidget& control) {
  QFont font = control.font();
  while (!fits(control, font) && font.pointSizeF() - kStep >= kSmallestPoints) {
    font.setPointSizeF(font.pointSizeF() - kStep);
  }
  control.setFont(font);
}

}  // namespace kbc::app
