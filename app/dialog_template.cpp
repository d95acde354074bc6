#include "app/dialog_template.h"

#include <QFile>
#include <QFontMetrics>
#include <map>

namespace kbc::app {
namespace {

// Faces that carry the Chinese captions, tried in order where the template's face is missing.
const QStringList kCjkFaces = {QStringLiteral("SimSun"),
                               QStringLiteral("宋体"),
                               QStringLiteral("NSimSun"),
                               QStringLiteral("Noto Sans CJK SC"),
                               QStringLiteral("Source Han Sans SC"),
                               QStringLiteral("WenQuanYi Zen Hei"),
                               QStringLiteral("WenQuanYi Micro Hei")};

const std::map<QString, TemplateControl::Kind> kKinds = {
    {QStringLiteral("group"), TemplateControl::Kind::group},
    {QStringLiteral("ctext"), TemplateControl::Kind::ctext},
    {QStringLiteral("ltext"), TemplateControl::Kind::ltext},
    {QStringLiteral("edit"), TemplateControl::Kind::edit},
    {QStringLiteral("button"), TemplateControl::Kind::button},
    {QStringLiteral("list"), TemplateControl::Kind::list},
};

// The styles a control may list, each the flag it sets.
const std::map<QString, bool TemplateControl::*> kStyles = {
    {QStringLiteral("password"), &TemplateControl::password},
    {QStringLiteral("sorted"), &TemplateControl::sorted},
    {QStringLiteral("vcentre"), &TemplateControl::vcentre},
    {QStringLiteral("default"), &TemplateControl::default_button},
    {QStringLiteral("hidden"), &TemplateControl::hidden},
};

// A cell's text: "\n" stands for a line break, every other character for itself.
QString text_cell(QString cell) {
  return cell.replace(QStringLiteral("\\n"), QStringLiteral("\n"));
}

std::optional<int> number(const QString& cell) {
  bool ok = false;
  const int value = cell.toInt(&ok);
  return ok ? std::optional<int>(value) : std::nullopt;
}

std::optional<QRect> rect(const QStringList& cells, int first) {
  const auto x = number(cells.value(first));
  const auto y = number(cells.value(first + 1));
  const auto w = number(cells.value(first + 2));
  const auto h = number(cells.value(first + 3));
  if (!x || !y || !w || !h || *w < 0 || *h < 0) {
    return std::nullopt;
  }
  return QRect(*x, *y, *w, *h);
}

int mul_div(int value, int numerator, int denominator) {
  const int product = value * numerator;
  return (product >= 0 ? product + denominator / 2 : product - denominator / 2) / denominator;
}

}  // namespace

std::optional<DialogTemplate> parse_template(const QString& text, QString* error) {
  DialogTemplate dialog;
  bool have_dialog = false;
  const QStringList lines = text.split(QLatin1Char('\n'));
  for (qsizetype n = 0; n < lines.size(); ++n) {
    QString line = lines[n];
    if (line.endsWith(QLatin1Char('\r'))) {
      line.chop(1);
    }
    if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
      continue;
    }
    const QStringList cells = line.split(QLatin1Char('\t'));
    const QString& kind = cells[0];
    const auto fail = [&](const char* why) {
      if (error) {
        *error = QStringLiteral("line %1: %2").arg(n + 1).arg(QLatin1String(why));
      }
      return std::nullopt;
    };
    if (kind == QStringLiteral("dialog")) {
      const auto id = number(cells.value(1));
      const auto area = rect(cells, 2);
      if (!id || !area) {
        return fail("dialog needs an id and a position");
      }
      dialog.id = *id;
      dialog.units = area->size();
      dialog.title = text_cell(cells.value(6));
      have_dialog = true;
    } else if (kind == QStringLiteral("font")) {
      const auto size = number(cells.value(1));
      if (!size || *size <= 0 || cells.value(2).isEmpty()) {
        return fail("font needs a point size and a face");
      }
      dialog.point_size = *size;
      dialog.font_family = cells[2];
    } else if (const auto found = kKinds.find(kind); found != kKinds.end()) {
      const auto id = number(cells.value(1));
      const auto units = rect(cells, 2);
      if (!id || !units) {
        return fail("control needs an id and a position");
      }
      TemplateControl control{found->second, *id, *units, text_cell(cells.value(6)), {}};
      for (const QString& style : cells.value(7).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const auto flag = kStyles.find(style);
        if (flag == kStyles.end()) {
          return fail("unknown style");
        }
        control.*(flag->second) = true;
      }
      if (control.kind == TemplateControl::Kind::list) {
        control.items = control.text.split(QLatin1Char('|'), Qt::SkipEmptyParts);
        control.text.clear();
      }
      dialog.controls.push_back(std::move(control));
    } else {
      return fail("unknown kind");
    }
  }
  if (!have_dialog) {
    if (error) {
      *error = QStringLiteral("no dialog line");
    }
    return std::nullopt;
  }
  return dialog;
}

std::optional<DialogTemplate> load_template(const QString& resource, QString* error) {
  QFile file(resource);
  if (!file.open(QIODevice::ReadOnly)) {
    if (error) {
      *error = resource + QStringLiteral(": ") + file.errorString();
    }
    return std::nullopt;
  }
  return parse_template(QString::fromUtf8(file.readAll()), error);
}

QFont template_font(const DialogTemplate& dialog) {
  QFont font(dialog.font_family, dialog.point_size);
  font.setFamilies(QStringList{dialog.font_family} + kCjkFaces);
  return font;
}

Qt::Alignment text_alignment(const TemplateControl& control) {
  const Qt::Alignment across =
      control.kind == TemplateControl::Kind::ctext ? Qt::AlignHCenter : Qt::AlignLeft;
  return across | (control.vcentre ? Qt::AlignVCenter : Qt::AlignTop);
}

BaseUnits base_units(const QFont& font) {
  const QFontMetrics metrics(font);
  const int width = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return {(width / 26 + 1) / 2, metrics.height()};
}

QRect to_pixels(const QRect& units, BaseUnits base) {
  return {mul_div(units.x(), base.x, 4), mul_div(units.y(), base.y, 8),
          mul_div(units.width(), base.x, 4), mul_div(units.height(), base.y, 8)};
}

QSize to_pixels(const QSize& units, BaseUnits base) {
  return {mul_div(units.width(), base.x, 4), mul_div(units.height(), base.y, 8)};
}

}  // namespace kbc::app
