// The status bar's word on the upload queue: how many bags wait for the agency's object store and
// how much they hold, and the last problem of an upload, cut to 24 Chinese characters' width
// with the whole of it in the tooltip. It follows the queue's folder as the
// offloads fill it and the upload service empties it; nothing polls.
#pragma once

#include <QFileSystemWatcher>
#include <QLabel>

#include "upload/queue.h"

namespace kbc::app {

class UploadStatus final : public QLabel {
  Q_OBJECT

 public:
  // `queue` must outlive the label.
  UploadStatus(const upload::UploadQueue& queue, QWidget* parent);

  // Reads the queue again.
  void refresh();

 private:
  const upload::UploadQueue& queue_;
  QFileSystemWatcher watcher_;
};

// "待上传: 2个 (3.8 GB)", with "上传出错: ..." when the last upload of a waiting bag failed;
// "已全部上传" when nothing waits.
QString upload_status_text(const std::vector<upload::QueuedBag>& bags);

}  // namespace kbc::app
