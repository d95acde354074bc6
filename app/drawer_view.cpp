#include "app/drawer_view.h"

#include <QBrush>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "app/report_table.h"
#include "app/strings.h"

namespace kbc::app {
namespace {

enum Column {
  kPort,
  kSerial,
  kOfficer,
  kUnit,
  kStage,
  kProgress,
  kRate,
  kLeft,
  kResult,
  kDocked,
  kColumns
};

QString utf8_text(const std::string& utf8) {
  return from_utf8(utf8);
}

}  // namespace

DrawerView::DrawerView(std::filesystem::path folder, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      folder_(std::move(folder)),
      watcher_(new QFileSystemWatcher(this)),
      settle_(new QTimer(this)),
      clock_(new QTimer(this)),
      heading_(new QLabel(this)),
      table_(new QTableWidget(0, kColumns, this)) {
  setWindowTitle(text::drawer_title());
  set_up_report_table(*table_, text::drawer_columns());
  // Fitted once a reload is shown, not again at every cell it changes: 25 slots changing at
  // once would measure every row for each.
  table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  table_->horizontalHeader()->setSectionResizeMode(kResult, QHeaderView::Stretch);
  heading_->setWordWrap(true);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(heading_);
  layout->addWidget(table_);
  resize(1080, 420);

  settle_->setSingleShot(true);
  settle_->setInterval(50);
  connect(settle_, &QTimer::timeout, this, &DrawerView::reload);
  connect(watcher_, &QFileSystemWatcher::directoryChanged, settle_, qOverload<>(&QTimer::start));
  connect(watcher_, &QFileSystemWatcher::fileChanged, settle_, qOverload<>(&QTimer::start));
  clock_->setInterval(1000);
  connect(clock_, &QTimer::timeout, this, &DrawerView::show_docked_times);
  clock_->start();
  reload();
}

void DrawerView::watch() {
  // The folders may come only once the service starts: the parent is watched until then.
  QStringList wanted;
  for (const std::filesystem::path& path :
       {folder_.parent_path(), folder_, folder_ / "slots", folder_ / "running"}) {
    if (std::filesystem::exists(path)) {
      wanted << QString::fromStdString(path.string());
    }
  }
  const QStringList watched = watcher_->directories() + watcher_->files();
  for (const QString& path : wanted) {
    if (!watched.contains(path)) {
      watcher_->addPath(path);
    }
  }
}

void DrawerView::reload() {
  QElapsedTimer took;
  took.start();
  watch();
  drawer_ = station::read_drawer(folder_);
  QString heading = drawer_.running ? text::drawer_running() : text::drawer_not_running();
  const bool low = drawer_.station && !drawer_.station->low_space.empty();
  if (low) {
    heading += QStringLiteral("  ") + utf8_text(drawer_.station->low_space);
  }
  heading_->setText(heading);
  heading_->setStyleSheet(low || !drawer_.running ? QStringLiteral("color: #c00000;") : QString());
  table_->setRowCount(static_cast<int>(drawer_.docked.size()));
  for (std::size_t i = 0; i < drawer_.docked.size(); ++i) {
    show_slot(static_cast<int>(i), drawer_.docked[i]);
  }
  show_docked_times();
  emit reloaded(took.elapsed());
}

void DrawerView::show_slot(int row, const station::SlotState& slot) {
  const auto cell = [&](int column, const QString& value) {
    QTableWidgetItem* item = table_->item(row, column);
    if (item == nullptr) {
      item = new QTableWidgetItem;
      table_->setItem(row, column, item);
    }
    item->setText(value);
    item->setForeground(slot.attention() ? QBrush(QColor(0xc0, 0, 0)) : QBrush());
  };
  cell(kPort, utf8_text(slot.port));
  cell(kSerial, utf8_text(slot.serial));
  cell(kOfficer, utf8_text(slot.officer) + (slot.overdue ? text::drawer_overdue() : QString()));
  cell(kUnit, utf8_text(slot.unit));
  cell(kStage, utf8_text(std::string(station::slot_stage_text(slot.stage))));
  auto* bar = qobject_cast<QProgressBar*>(table_->cellWidget(row, kProgress));
  if (bar == nullptr) {
    bar = new QProgressBar;
    bar->setRange(0, 1000);
    table_->setCellWidget(row, kProgress, bar);
  }
  bar->setValue(slot.bytes_total > 0 ? static_cast<int>(slot.bytes_done * 1000 / slot.bytes_total)
                                     : (slot.stage == station::SlotStage::verified ? 1000 : 0));
  bar->setFormat(QStringLiteral("%1/%2").arg(slot.files_done).arg(slot.files_total));
  cell(kRate, slot.rate > 0 && !station::finished(slot.stage)
                  ? QStringLiteral("%1 MB/s").arg(slot.rate / 1e6, 0, 'f', 1)
                  : QString());
  cell(kLeft, slot.seconds_left && !station::finished(slot.stage)
                  ? minutes_seconds(*slot.seconds_left)
                  : QString());
  cell(kResult, utf8_text(slot.result));
  // A bag's path may be longer than the column: all of it on pointing.
  table_->item(row, kResult)->setToolTip(utf8_text(slot.result));
  cell(kDocked, QString());
}

void DrawerView::fit_columns() {
  for (int column = 0; column < kColumns; ++column) {
    if (column != kResult) {
      table_->resizeColumnToContents(column);
    }
  }
}

void DrawerView::show_docked_times() {
  const long long now = QDateTime::currentSecsSinceEpoch();
  for (std::size_t i = 0; i < drawer_.docked.size(); ++i) {
    const station::SlotState& slot = drawer_.docked[i];
    if (QTableWidgetItem* item = table_->item(static_cast<int>(i), kDocked)) {
      item->setText(minutes_seconds(slot.docked_for(now)));
    }
  }
  fit_columns();
}

}  // namespace kbc::app
