#include "app/lock_indicators.h"

#include <QDir>
#include <QFile>

namespace kbc::app {
namespace {

void merge(std::optional<bool>& lock, const QString& brightness_file) {
  QFile file(brightness_file);
  if (!file.open(QIODevice::ReadOnly)) {
    return;
  }
  bool ok = false;
  const int brightness = file.readAll().trimmed().toInt(&ok);
  if (ok) {
    lock = lock.value_or(false) || brightness > 0;
  }
}

}  // namespace

LockState read_lock_leds(const QString& leds_dir) {
  LockState state;
  const QDir dir(leds_dir);
  // LED names are "<device>::<function>", e.g. "input3::capslock".
  for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    const QString brightness = dir.filePath(name + QStringLiteral("/brightness"));
    if (name.endsWith(QStringLiteral("::capslock"))) {
      merge(state.caps, brightness);
    } else if (name.endsWith(QStringLiteral("::numlock"))) {
      merge(state.num, brightness);
    } else if (name.endsWith(QStringLiteral("::scrolllock"))) {
      merge(state.scroll, brightness);
    }
  }
  return state;
}

}  // namespace kbc::app
