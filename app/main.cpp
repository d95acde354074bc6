#include <QCoreApplication>

#include "app/heron_ftp_app.h"

int main(int argc, char** argv) {
  {
    const QCoreApplication terminal(argc, argv);
    kbc::app::answer_help_or_version(terminal);
  }
  kbc::app::CHeronFtpApp app(argc, argv);
  if (!app.InitInstance()) {
    return app.exit_code();
  }
  return app.exec();
}
