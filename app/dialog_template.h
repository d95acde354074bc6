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

struct DialogTemplate {
  int id = 0;
  QSize units;
  QString title;
  QString font_family;
  int point_size = 0;
  std::vector<TemplateControl> controls;
};

// Parses the tab-separated form of res/*.tsv. On a malformed line returns nullopt and says why.
std::optional<DialogTemplate> parse_template(const QString& text, QString* error);

// Reads and parses a template compiled in as a Qt resource.
std::optional<DialogTemplate> load_template(const QString& resource, QString* error);

// A dialog's font: its template face where installed, else a face that has the Chinese texts.
QFont template_font(const DialogTemplate& dialog);

// Where a ctext or ltext control sets its text.
Qt::Alignment text_alignment(const TemplateControl& control);

// Dialog base units: the font's average Latin letter width and its height.
struct BaseUnits {
  int x;
  int y;
};

BaseUnits base_units(const QFont& font);

// Dialog units to pixels: a quarter of the base width across, an eighth of the base height down,
// each coordinate rounded on its own as the dialog manager does.
QRect to_pixels(const QRect& units, BaseUnits base);
QSize to_pixels(const QSize& units, BaseUnits base);

}  // namespace kbc::app
