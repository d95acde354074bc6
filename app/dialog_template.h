// A dialog template kept as data in res/: the dialog's size and font and its controls with their
// positions in dialog units, which follow the font as on the platform the templates come from.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace kbc::app {

struct TemplateControl {
  // ctext is centred across, ltext set to the left; both start at the top unless vcentre.
  enum class Kind { group, ctext, ltext, edit, button, list };
  Kind kind;
  int id;             // -1 for the controls nothing refers to
  QRect units;        // x, y, width, height in dialog units
  QString text;       // caption; empty for an edit
  QStringList items;  // a list's items, in template order
  bool password = false;
  bool sorted = false;
  bool vcentre = false;
  bool default_button = false;  // the button Enter presses
  bool hidden = false;          // not shown until the code shows it
};

// Dialog base units: a quarter of x is one dialog unit across, an eighth of y one unit down.
struct BaseUnits {
  int x;
  int y;
};

struct DialogTemplate {
  int id = 0;
  QSize units;
  QString title;
  QString font_family;
  int point_size = 0;
  BaseUnits base{};  // those of the template's font at 96 dpi, whatever fonts are installed
  std::vector<TemplateControl> controls;
};

// Parses the tab-separated form of res/*.tsv. On a malformed line, or a number outside what a
// dialog template can hold, returns nullopt and says why.
std::optional<DialogTemplate> parse_template(const QString& text, QString* error);

// Reads and parses a template compiled in as a Qt resource.
std::optional<DialogTemplate> load_template(const QString& resource, QString* error);

// The captions' font: the desktop's Chinese face at the template's size, never below 9 points,
// where Han characters stop being legible.
QFont template_font(const DialogTemplate& dialog);

// Where a ctext or ltext control sets its text.
Qt::Alignment text_alignment(const TemplateControl& control);

// The template's base units on a screen of this logical DPI.
BaseUnits base_units(const DialogTemplate& dialog, qreal logical_dpi);

// Dialog units to pixels: a quarter of the base width across, an eighth of the base height down,
// each coordinate rounded on its own as the dialog manager does.
QRect to_pixels(const QRect& units, BaseUnits base);
QSize to_pixels(const QSize& units, BaseUnits base);

}  // namespace kbc::app
