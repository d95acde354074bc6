// The dialog-template parser on any bytes: it refuses or parses, and what it parses converts to
// pixels without overflow at any screen DPI (the sanitizers watch).
#include <cstddef>
#include <cstdint>

#include "app/dialog_template.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QString text =
      QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  QString error;
  const auto dialog = kbc::app::parse_template(text, &error);
  if (!dialog) {
    return 0;
  }
  for (const qreal dpi : {96.0, 960.0}) {
    const kbc::app::BaseUnits base = kbc::app::base_units(*dialog, dpi);
    const QSize size = kbc::app::to_pixels(dialog->units, base);
    for (const kbc::app::TemplateControl& control : dialog->controls) {
      const QRect pixels = kbc::app::to_pixels(control.units, base);
      // right() and bottom() are where QRect itself would overflow.
      kbc::fuzz::check(pixels.right() >= pixels.left() - 1 && pixels.bottom() >= pixels.top() - 1);
      kbc::fuzz::check(size.width() >= 0 && size.height() >= 0);
    }
  }
  return 0;
}
