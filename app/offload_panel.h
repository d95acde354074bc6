// The window's offloads once their recorders have switched to mass storage: a row per recorder
// (officer, files, bytes, speed, time left, state), each on a thread of its own that waits for
// the recorder's disk and reads it into the evidence store, and a button that cancels it. Each
// receipt goes to the information pane as its recorder finishes.
#pragma once

#include <QDialog>
#include <QStringList>
#include <memory>
#include <stop_token>
#include <thread>
#include <vector>

#include "offload/offload.h"

class QTableWidget;

namespace kbc::app {

class OffloadPanel final : public QDialog {
  Q_OBJECT

 public:
  explicit OffloadPanel(QWidget* parent);
  // Cancels what still runs and waits for it: a bag cut short is finished by the next offload.
  ~OffloadPanel() override;

  // A row and a thread for each switched recorder; the settings must outlive the panel.
  void start(std::vector<offload::Switched> switched, const offload::OffloadSettings& settings);
  // Whether any offload still runs.
  bool running() const;
  void cancel_all();

  QTableWidget* table() const { return table_; }

 signals:
  // A recorder's receipt for the pane: the line naming it, then its lines.
  void receipt(const QStringList& lines);
  // No offload runs any longer.
  void idle();

 private:
  struct Job {
    int row;
    std::stop_source stop;
    std::jthread thread;
    bool done = false;
  };

  void show_status(int row, const offload::OffloadStatus& status);
  void finish(Job& job, const offload::Offloaded& receipt);

  QTableWidget* table_;
  std::vector<std::unique_ptr<Job>> jobs_;
};

// "12/132", "1.2 GB/3.8 GB", "85.3 MB/s", "0:31": the columns of a row.
QString files_text(const offload::OffloadStatus& status);
QString bytes_text(const offload::OffloadStatus& status);
QString speed_text(const offload::OffloadStatus& status);
QString time_left_text(const offload::OffloadStatus& status);

}  // namespace kbc::app
