#include "app/upload_status.h"

#include <QDir>

#include "app/strings.h"
#include "console/erase_guard.h"
#include "console/printable.h"

namespace kbc::app {

QString upload_status_text(const std::vector<upload::QueuedBag>& bags) {
  std::size_t waiting = 0;
  std::uint64_t bytes = 0;
  std::optional<std::string> error;
  for (const upload::QueuedBag& bag : bags) {
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

UploadStatus::UploadStatus(const upload::UploadQueue& queue, QWidget* parent)
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
  const std::vector<upload::QueuedBag> bags = queue_.bags();
  // The state file of each bag still waiting is watched for the lines the upload adds; a stored
  // bag's is let go, so that months of bags do not use up the watches.
  const QDir folder(QString::fromStdString(queue_.folder().string()));
  for (const upload::QueuedBag& bag : bags) {
    const QString file = folder.filePath(from_utf8(bag.name) + QStringLiteral(".state"));
    const bool watched = watcher_.files().contains(file);
    if (!bag.stored && !watched) {
      watcher_.addPath(file);
    } else if (bag.stored && watched) {
      watcher_.removePath(file);
    }
  }
  // A store's word on a failure can be long: the bar shows its start, the tip all of it.
  const QString full = upload_status_text(bags);
  setText(fontMetrics().elidedText(full, Qt::ElideRight,
                                   fontMetrics().horizontalAdvance(QStringLiteral("待")) * 24));
  setToolTip(full);
}

}  // namespace kbc::app
