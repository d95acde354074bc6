// The status bar's message pane with the station's evidence store in it: "就绪" with the store's
// free space in its tip; below the station's low-space mark the free space itself in red, with
// the days of room left at the last week's rate, and in red too how many recorders are overdue
// (their serial numbers in the tip). Read when the window starts and after each offload.
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
  // Whether it says something needs the operator: low space or recorders overdue.
  bool low() const { return low_; }

 private:
  offload::Station station_;
  evidence::Store store_;
  bool low_ = false;
};

// "证据库剩余 63.1 GB", or "证据库仅剩 8.0 GB，约3天", then " 2台记录仪逾期未导出" where so.
QString store_space_text(const offload::Health& health);

}  // namespace kbc::app
