#include "app/report_table.h"

#include <QHeaderView>
#include <QTableWidget>

namespace kbc::app {

void set_up_report_table(QTableWidget& table, const QStringList& columns) {
  table.setHorizontalHeaderLabels(columns);
  table.verticalHeader()->hide();
  table.setEditTriggers(QAbstractItemView::NoEditTriggers);
  table.setSelectionMode(QAbstractItemView::NoSelection);
  table.horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
}

QString minutes_seconds(long long seconds) {
  return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace kbc::app
