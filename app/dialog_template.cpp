#include "app/dialog_template.h"

#include <QFile>
#include <algorithm>
#include <climits>
#include <cstdint>
#include <map>

#include "app/fonts.h"

namespace kbc::app {
namespace {

constexpr int kLegiblePoints = 9;

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

// The ranges a template can hold: positions and sizes are 16-bit dialog units, sizes never
// negative; ids are 16-bit, -1 standing for none.
struct Range {
  int low;
  int high;
};
constexpr Range kPosition{-32768, 32767};
constexpr Range kExtent{0, 32767};
constexpr Range kId{-1, 65535};
constexpr Range kPointSize{1, 72};
constexpr Range kBaseUnit{1, 100};

// A number inside the range; nullopt for anything else, however large.
std::optional<int> number(const QString& cell, Range range) {
  bool ok = false;
  const qlonglong value = cell.toLongLong(&ok);
  if (!ok || value < range.low || value > range.high) {
    return std::nullopt;
  }
  return static_cast<int>(value);
}

std::optional<QRect> rect(const QStringList& cells, int first) {
  const auto x = number(cells.value(first), kPosition);
  const auto y = number(cells.value(first + 1), kPosition);
  const auto w = number(cells.value(first + 2), kExtent);
  const auto h = number(cells.value(first + 3), kExtent);
  if (!x || !y || !w || !h) {
    return std::nullopt;
  }
  return QRect(*x, *y, *w, *h);
}

// value * numerator / denominator, rounded half away from zero, in 64 bits: a 16-bit unit times a
// base unit never overflows.
int mul_div(int value, int numerator, int denominator) {
  const std::int64_t product = std::int64_t{value} * numerator;
  const std::int64_t half = denominator / 2;
  const std::int64_t result = (product >= 0 ? product + half : product - half) / denominator;
  return static_cast<int>(std::clamp<std::int64_t>(result, INT_MIN, INT_MAX));
}

}  // namespace

std::optional<DialogTemplate> parse_template(const QString& text, QString* error) {
  DialogTemplate dialog;
  bool have_dialog = false;
  bool have_font = false;
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
      const auto id = number(cells.value(1), kId);
      const auto area = rect(cells, 2);
      if (!id || !area) {
        return fail("dialog needs an id and a position within 16-bit dialog units");
      }
      dialog.id = *id;
      dialog.units = area->size();
      dialog.title = text_cell(cells.value(6));
      have_dialog = true;
    } else if (kind == QStringLiteral("font")) {
      const auto size = number(cells.value(1), kPointSize);
      const auto base_x = number(cells.value(3), kBaseUnit);
      const auto base_y = number(cells.value(4), kBaseUnit);
      if (!size || cells.value(2).isEmpty() || !base_x || !base_y) {
        return fail("font needs a point size of 1 to 72, a face and its base units of 1 to 100");
      }
      dialog.point_size = *size;
      dialog.font_family = cells[2];
      dialog.base = {*base_x, *base_y};
      have_font = true;
    } else if (const auto found = kKinds.find(kind); found != kKinds.end()) {
      const auto id = number(cells.value(1), kId);
      const auto units = rect(cells, 2);
      if (!id || !units) {
        return fail("control needs an id of -1 to 65535 and a position within 16-bit dialog units");
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
  if (!have_dialog || !have_font) {
    if (error) {
      *error = have_dialog ? QStringLiteral("no font line") : QStringLiteral("no dialog line");
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
  QFont font = cjk_font();
  font.setPointSize(std::max(dialog.point_size, kLegiblePoints));
  return font;
}

Qt::Alignment text_alignment(const TemplateControl& control) {
  const Qt::Alignment across =
      control.kind == TemplateControl::Kind::ctext ? Qt::AlignHCenter : Qt::AlignLeft;
  return across | (control.vcentre ? Qt::AlignVCenter : Qt::AlignTop);
}

BaseUnits base_units(const DialogTemplate& dialog, qreal logical_dpi) {
  // A screen that reports no sensible DPI is taken as 96.
  const qreal scale = logical_dpi >= 24 && logical_dpi <= 960 ? logical_dpi / 96 : 1;
  return {std::max(1, qRound(dialog.base.x * scale)), std::max(1, qRound(dialog.base.y * scale))};
}

QRect to_pixels(const QRect& units, BaseUnits base) {
  return {mul_div(units.x(), base.x, 4), mul_div(units.y(), base.y, 8),
          mul_div(units.width(), base.x, 4), mul_div(units.height(), base.y, 8)};
}

QSize to_pixels(const QSize& units, BaseUnits base) {
  return {mul_div(units.width(), base.x, 4), mul_div(units.height(), base.y, 8)};
}

}  // namespace kbc::app
