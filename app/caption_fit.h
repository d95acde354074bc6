// Captions that fit their controls: a control's place comes from its template, so where the
// desktop's face is large, the caption's font shrinks instead of the text being clipped.
#pragma once

#include <QRect>
#include <QStringList>

class QFont;
class QWidget;

namespace kbc::app {

// Where the style draws the control's text: a button's contents less its margins, a label's
// contents, a line edit's text area, a closed list's field.
QRect text_room(const QWidget& control);

// The texts the control shows whole: its caption, every item of a list; an edit shows one line.
QStringList shown_texts(const QWidget& control);

// Whether every shown text fits the room in this font.
bool fits(const QWidget& control, const QFont& font);

// Makes the control's font the largest size, from the one it has down, at which it fits.
void fit_caption(QWidget& control);

}  // namespace kbc::app
