#include "app/store_space.h"

#include <chrono>

#include "app/strings.h"
#include "console/erase_guard.h"
#include "console/printable.h"

namespace kbc::app {

QString store_space_text(const offload::Health& health) {
  const QString size = from_utf8(console::size_text(health.free_bytes));
  QString said = health.low_space ? text::store_low(size) : text::store_free(size);
  if (health.low_space && health.days_left) {
    said += text::store_days_left(static_cast<long long>(*health.days_left));
  }
  if (!health.overdue.empty()) {
    said += u' ' + text::recorders_overdue(static_cast<int>(health.overdue.size()));
  }
  return said;
}

StoreSpace::StoreSpace(offload::Station station, evidence::Store store, QWidget* parent)
    : QLabel(parent), station_(std::move(station)), store_(std::move(store)) {
  setTextFormat(Qt::PlainText);
  refresh();
}

void StoreSpace::refresh() {
  const auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
  const offload::Health health = offload::station_health(station_, store_, nullptr, now);
  low_ = health.low_space || !health.overdue.empty();
  QString room = store_space_text(health);
  for (const offload::Health::Overdue& late : health.overdue) {
    room += u'\n' + from_utf8(console::printable(late.serial));
  }
  setText(low_ ? store_space_text(health) : text::idle());
  setToolTip(health.low_space && health.days_left
                 ? room + u'\n' + text::store_low_tip(static_cast<long long>(*health.days_left))
                 : room);
  QPalette colours = palette();
  colours.setColor(QPalette::WindowText,
                   low_ ? QColor(Qt::red) : parentWidget()->palette().color(QPalette::WindowText));
  setPalette(colours);
}

}  // namespace kbc::app
