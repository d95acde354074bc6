// The GUI tests' own main: one QApplication for the whole run, headless unless told otherwise,
// gone before the process exits (Qt's input devices must not outlive it). It takes the place of
// gtest_main's main, which the linker then leaves out.
#include <gtest/gtest.h>

#include <QApplication>

#include "app/heron_ftp_app.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  // As the program does; scripts/setup installs them.
  if (!kbc::app::present_application(app)) {
    qFatal("Qt's Chinese translations (qt6-translations-l10n) are missing");
  }
  // A test closes windows; the application goes on.
  QApplication::setQuitOnLastWindowClosed(false);
  return RUN_ALL_TESTS();
}
