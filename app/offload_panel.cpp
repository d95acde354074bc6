#include "app/offload_panel.h"

#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "app/report_table.h"
#include "app/strings.h"
#include "console/erase_guard.h"
#include "console/printable.h"

namespace kbc::app {
namespace {

enum Column { kRecorder, kOfficer, kFiles, kBytes, kSpeed, kLeft, kState, kCancel, kColumns };

QString officer_text(const evidence::Officer& officer) {
  const QString name = from_utf8(console::printable(officer.user_name.value_or("")));
  const QString number = from_utf8(console::printable(officer.user_number.value_or("")));
  return number.isEmpty() ? name : name + u' ' + number;
}

}  // namespace

QString files_text(const offload::OffloadStatus& status) {
  return QStringLiteral("%1/%2").arg(status.files_done).arg(status.files_total);
}

QString bytes_text(const offload::OffloadStatus& status) {
  return from_utf8(console::size_text(status.bytes_done) + "/" +
                   console::size_text(status.bytes_total));
}

QString speed_text(const offload::OffloadStatus& status) {
  const double rate = status.rate();
  return rate > 0 ? QStringLiteral("%1 MB/s").arg(rate / 1e6, 0, 'f', 1) : QString();
}

QString time_left_text(const offload::OffloadStatus& status) {
  const std::optional<long long> left = status.seconds_left();
  if (!left) {
    return {};
  }
  return minutes_seconds(*left);
}

OffloadPanel::OffloadPanel(QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      table_(new QTableWidget(0, kColumns, this)) {
  setWindowTitle(text::offload_title());
  set_up_report_table(*table_, text::offload_columns());
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(table_);
  resize(760, 240);
}

OffloadPanel::~OffloadPanel() {
  cancel_all();
  for (const auto& job : jobs_) {
    if (job->thread.joinable()) {
      job->thread.join();
    }
  }
}

void OffloadPanel::start(std::vector<offload::Switched> switched,
                         const offload::OffloadSettings& settings) {
  for (offload::Switched& recorder : switched) {
    const int row = table_->rowCount();
    table_->insertRow(row);
    const offload::Offloaded& receipt = recorder.receipt;
    const std::optional<std::string> serial =
        receipt.serial.empty() ? std::nullopt : std::optional(receipt.serial);
    table_->setItem(row, kRecorder,
                    new QTableWidgetItem(from_utf8(console::printable(
                        serial.value_or(std::string(console::msg::unknown_serial)) + " (" +
                        receipt.location + ")"))));
    table_->setItem(row, kOfficer, new QTableWidgetItem(officer_text(receipt.officer)));
    for (int column = kFiles; column <= kState; ++column) {
      table_->setItem(row, column, new QTableWidgetItem);
    }
    auto job = std::make_unique<Job>();
    job->row = row;
    auto* cancel = new QPushButton(text::cancel(), table_);
    Job* running = job.get();
    connect(cancel, &QPushButton::clicked, this, [running] { running->stop.request_stop(); });
    table_->setCellWidget(row, kCancel, cancel);
    offload::OffloadStatus waiting;
    waiting.stage = offload::Stage::waiting_for_disk;
    show_status(row, waiting);

    // The thread tells the panel through its event loop; the panel outlives it.
    offload::OffloadEvents events;
    events.status = [this, row](std::size_t, const offload::OffloadStatus& status) {
      QMetaObject::invokeMethod(
          this, [this, row, status] { show_status(row, status); }, Qt::QueuedConnection);
    };
    job->thread = std::jthread(
        [this, running, &settings, events, switched_recorder = std::move(recorder)]() mutable {
          const offload::Offloaded receipt = offload::offload_switched(
              std::move(switched_recorder), settings, events, running->stop.get_token());
          QMetaObject::invokeMethod(
              this, [this, running, receipt] { finish(*running, receipt); }, Qt::QueuedConnection);
        });
    jobs_.push_back(std::move(job));
  }
  table_->resizeColumnsToContents();
}

bool OffloadPanel::running() const {
  return std::ranges::any_of(jobs_, [](const auto& job) { return !job->done; });
}

void OffloadPanel::cancel_all() {
  for (const auto& job : jobs_) {
    job->stop.request_stop();
  }
}

void OffloadPanel::show_status(int row, const offload::OffloadStatus& status) {
  table_->item(row, kFiles)->setText(files_text(status));
  table_->item(row, kBytes)->setText(bytes_text(status));
  table_->item(row, kSpeed)->setText(speed_text(status));
  table_->item(row, kLeft)->setText(time_left_text(status));
  table_->item(row, kState)->setText(from_utf8(offload::stage_text(status.stage)));
}

void OffloadPanel::finish(Job& job, const offload::Offloaded& receipt) {
  job.done = true;
  if (job.thread.joinable()) {
    job.thread.join();
  }
  table_->item(job.row, kState)->setText(from_utf8(offload::stage_text(receipt.stage)));
  if (QWidget* cancel = table_->cellWidget(job.row, kCancel)) {
    cancel->setEnabled(false);
  }
  QStringList lines{from_utf8(console::recorder_heading(
      receipt.location, receipt.serial.empty() ? std::nullopt : std::optional(receipt.serial)))};
  for (const std::string& line : receipt.lines()) {
    lines.push_back(from_utf8(console::printable(line)));
  }
  emit this->receipt(lines);
  if (!running()) {
    emit idle();
  }
}

}  // namespace kbc::app
