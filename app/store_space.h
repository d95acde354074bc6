// The status bar's message pane with the station's evidence store in it: "就绪" with the store's
// free space in its tip, and below the station's low-space mark the free space itself in red,
// with the days of room left at the last week's rate. Read when the window starts and after each
// offload, which is what fills the store.
#pragma once

#include <QLabel>

#include "evidence/store.h"
#include "offload/health.h"
#include "offload/station_file.h"

namespace kbc::app {

class StoreSpace final : public QLabel {
  Q_OBJECT

 public:
  StoreSpace(offload::Station station, evidence::Store store, QWidget* parent);

  // Reads the store again.
  void refresh();
  bool low() const { return low_; }

 private:
  offload::Station station_;
  evidence::Store store_;
  bool low_ = false;
};

// "证据库剩余 63.1 GB", or "证据库仅剩 8.0 GB，约3天".
QString store_space_text(const offload::Health& health);

}  // namespace kbc::app
