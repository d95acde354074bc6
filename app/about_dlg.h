// The About box: the application's title and version. It has no buttons; Esc or the title bar's
// close button closes it.
#pragma once

#include <QDialog>

namespace kbc::app {

class CAboutDlg final : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent);
};

}  // namespace kbc::app
