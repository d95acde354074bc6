// The window's tables of recorders at work, the offload panel's and the drawer's: read-only
// rows without numbers, each column as wide as its texts, and their times as minutes and seconds.
#pragma once

#include <QString>
#include <QStringList>

class QTableWidget;

namespace kbc::app {

void set_up_report_table(QTableWidget& table, const QStringList& columns);

// "1:35"
QString minutes_seconds(long long seconds);

}  // namespace kbc::app
