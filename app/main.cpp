#include "app/heron_ftp_app.h"

int main(int argc, char** argv) {
  kbc::app::CHeronFtpApp app(argc, argv);
  if (!app.InitInstance()) {
    return app.exit_code();
  }
  return app.exec();
}
