#include "app/about_dlg.h"

#include <QLabel>
#include <QVBoxLayout>

#include "app/strings.h"

namespace kbc::app {

QString text::version() {
  return QStringLiteral(KBC_VERSION);
}

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setWindowTitle(text::about_item());
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(24, 16, 24, 16);
  layout->setSpacing(8);
  auto* title = new QLabel(text::app_title(), this);
  title->setObjectName(QStringLiteral("title"));
  auto* version = new QLabel(text::version_line(), this);
  version->setObjectName(QStringLiteral("version"));
  layout->addWidget(title);
  layout->addWidget(version);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace kbc::app
