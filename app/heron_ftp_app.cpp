#include "app/heron_ftp_app.h"

#include <QCommandLineParser>
#include <QLibraryInfo>
#include <QLocale>
#include <QScreen>
#include <QTranslator>

#include "app/main_frame.h"
#include "app/settings_bar.h"
#include "app/single_instance.h"
#include "app/strings.h"
#include "link/real_port.h"
#include "link/trace.h"
#include "sim/sim_bus.h"

namespace kbc::app {
namespace {

const QString kDesktopId = QStringLiteral("io.github.kbcq7.KbcQ7");

}  // namespace

void centre_on_desktop(QWidget& window) {
  const QScreen* screen = window.screen();
  if (!screen) {
    return;
  }
  QRect frame = window.frameGeometry();
  frame.moveCenter(screen->geometry().center());
  window.move(frame.topLeft());
}

bool present_application(QGuiApplication& app) {
  QGuiApplication::setApplicationName(kDesktopId);
  QGuiApplication::setDesktopFileName(kDesktopId);
  auto translator = std::make_unique<QTranslator>();
  if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                        QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    return false;
  }
  translator->setParent(&app);
  return QCoreApplication::installTranslator(translator.release());
}

CHeronFtpApp::CHeronFtpApp(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("kbc-q7"));
  setApplicationVersion(text::version());
}

CHeronFtpApp::~CHeronFtpApp() = default;

namespace {

struct CommandLine {
  QCommandLineParser parser;
  QCommandLineOption help;
  QCommandLineOption version;
  QCommandLineOption simulate{QStringLiteral("simulate"),
                              QStringLiteral("Talk to the built-in simulated recorder instead of "
                                             "the one on the USB bus.")};

  CommandLine() : help(parser.addHelpOption()), version(parser.addVersionOption()) {
    QCoreApplication::setApplicationName(QStringLiteral("kbc-q7"));
    QCoreApplication::setApplicationVersion(text::version());
    parser.setApplicationDescription(text::app_title());
    parser.addOption(simulate);
  }
};

}  // namespace

void answer_help_or_version(const QCoreApplication& app) {
  CommandLine line;
  // Options of the window system are not known yet; the full check comes with the window.
  line.parser.parse(app.arguments());
  if (line.parser.isSet(line.help)) {
    line.parser.showHelp(0);
  }
  if (line.parser.isSet(line.version)) {
    line.parser.showVersion();
  }
}

bool simulate_requested(const QCoreApplication& app) {
  CommandLine line;
  // Further arguments name no document: the tool opens none.
  line.parser.process(app);
  return line.parser.isSet(line.simulate);
}

bool CHeronFtpApp::InitInstance() {
  const bool simulated = simulate_requested(*this);

  // Never where others can reach the lock or the socket: without a private folder the window
  // runs unguarded.
  QString why;
  if (const auto folder = private_runtime_dir(&why)) {
    instance_ = std::make_unique<SingleInstance>(text::app_title(), *folder);
    switch (instance_->acquire()) {
      case SingleInstance::Role::first:
        break;
      case SingleInstance::Role::later:
        instance_->ask_to_come_forward(qEnvironmentVariable("XDG_ACTIVATION_TOKEN"));
        exit_code_ = 0;
        return false;
      case SingleInstance::Role::failed:
        link::tracef("Cannot create the instance lock %s",
                     instance_->lock_path().toLocal8Bit().constData());
        exit_code_ = 1;
        return false;
    }
  } else {
    link::tracef("No private runtime directory (%s): running without the single-instance guard",
                 why.toLocal8Bit().constData());
  }

  QString error;
  const auto bar = settings_bar_template(&error);
  if (!bar) {
    link::tracef("Settings bar template: %s", error.toLocal8Bit().constData());
    exit_code_ = 1;
    return false;
  }

  if (simulated) {
    port_ = std::make_unique<sim::SimBus>(1);
  } else {
    port_ = std::make_unique<link::RealPort>();
  }
  // Now that the command line has been read under the program's own name.
  if (!present_application(*this)) {
    link::trace("Qt's Chinese translations are not installed: its standard texts stay English");
  }
  // The simulated recorder answers at once; the pauses between commands stay real all the same.
  frame_ = std::make_unique<CMainFrame>(*bar, link::Link{*port_, pause_}, clock_);
  if (simulated) {
    frame_->mark_simulated();
  }
  frame_->show();
  centre_on_desktop(*frame_);
  frame_->setWindowTitle(text::app_title());

  // Only now, with the window up and titled, can a later copy find this one.
  if (!instance_) {
    return true;
  }
  connect(instance_.get(), &SingleInstance::come_forward_requested, frame_.get(),
          [this](const QString& token) {
            link::trace(token.isEmpty() ? "Come forward" : "Come forward with activation token");
            frame_->come_forward(token);
          });
  if (!instance_->listen()) {
    link::tracef("Cannot listen on %s", instance_->socket_path().toLocal8Bit().constData());
  } else {
    link::tracef("Listening on %s", instance_->socket_path().toLocal8Bit().constData());
  }
  return true;
}

}  // namespace kbc::app
