// The drawer as the station service works it: a row per USB port with its recorder's serial
// number, officer and unit, stage, a progress bar, rate, time left, result and how long it has
// been docked; red where it failed, where the recorder is overdue, and above the grid where the
// store is low on space. It follows the service's state folder through inotify
// (QFileSystemWatcher): nothing polls, and any number of windows may watch at once.
#pragma once

#include <QDialog>
#include <filesystem>

#include "station/slot_state.h"

class QFileSystemWatcher;
class QLabel;
class QTableWidget;
class QTimer;

namespace kbc::app {

class DrawerView final : public QDialog {
  Q_OBJECT

 public:
  DrawerView(std::filesystem::path folder, QWidget* parent);

  QTableWidget* table() const { return table_; }
  QLabel* heading() const { return heading_; }
  // Reads the folder again now, as a change in it does.
  void reload();

 signals:
  // A reload was made, in `ms` milliseconds.
  void reloaded(qint64 ms);

 private:
  void watch();
  void show_slot(int row, const station::SlotState& slot);
  void show_docked_times();
  void fit_columns();

  std::filesystem::path folder_;
  QFileSystemWatcher* watcher_;
  QTimer* settle_;  // a burst of changes is read once
  QTimer* clock_;   // the docked times, from what was read
  QLabel* heading_;
  QTableWidget* table_;
  station::Drawer drawer_;
};

}  // namespace kbc::app
