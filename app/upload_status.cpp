#include "app/upload_status.h"

#include <QDir>

#include "app/strings.h"
#include "console/erase_guard.h"
#include "console/printable.h"

namespace kbc::app {

QString upload_status_text(const std::vector<evidence::QueuedBag>& bags) {
  std::size_t waiting = 0;
  std::uint64_t bytes = 0;
  std::optional<std::string> error;
  for (const evidence::QueuedBag& bag : bags) {
    if (!bag.stored) {
      ++waiting;
      bytes += bag.bytes;
      if (bag.error) {
        error = bag.error;
      }
    }
  }
  if (waiting == 0) {
    return text::all_uploaded();
  }
  QString status =
      text::upload_waiting(static_cast<int>(waiting), from_utf8(console::size_text(bytes)));
  if (error) {
    status += u' ' + text::upload_failed() + from_utf8(console::printable(*error));
  }
  return status;
}

UploadStatus::UploadStatus(const evidence::UploadQueue& queue, QWidget* parent)
    : QLabel(parent), queue_(queue) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setTextFormat(Qt::PlainText);
  queue_.make_folder();
  watcher_.addPath(QString::fromStdString(queue_.folder().string()));
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &UploadStatus::refresh);
  connect(&watcher_, &QFileSystemWatcher::fileChanged, this, &UploadStatus::refresh);
  refresh();
}

void UploadStatus::refresh() {
  const std::vector<evidence::QueuedBag> bags = queue_.bags();
  // Each state file is watched for the lines the upload adds.
  for (const auto& entry : QDir(QString::fromStdString(queue_.folder().string()))
                               .entryInfoList({QStringLiteral("*.state")}, QDir::Files)) {
    if (!watcher_.files().contains(entry.filePath())) {
      watcher_.addPath(entry.filePath());
    }
  }
  // A store's word on a failure can be long: the bar shows its start, the tip all of it.
  const QString full = upload_status_text(bags);
  setText(fontMetrics().elidedText(full, Qt::ElideRight,
                                   fontMetrics().horizontalAdvance(QStringLiteral("待")) * 24));
  setToolTip(full);
}

}  // namespace kbc::app
