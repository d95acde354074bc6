#include "app/heron_ftp_app.h"

#include <QCommandLineParser>
#include <QLibraryInfo>
#include <QLocale>
#include <QScreen>
#include <QTranslator>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "app/main_frame.h"
#include "app/settings_bar.h"
#include "app/single_instance.h"
#include "app/strings.h"
#include "link/real_port.h"
#include "link/trace.h"
#include "offload/sim_disk_watch.h"
#include "offload/station_file.h"
#include "sim/sim_bus.h"
#include "station/slot_state.h"

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
  QCommandLineOption simulate{
      QStringLiteral("simulate"),
      QStringLiteral("Talk to the built-in simulated recorder instead of the recorders on the USB "
                     "bus; --simulate=N puts N of them (1 to %1) on a simulated bus.")
          .arg(sim::kMostSimulated)};
  // -v is Qt's own for --version.
  QCommandLineOption verbose{
      QStringLiteral("verbose"),
      QStringLiteral("Write the link's trace lines to standard error (as does %1=1).")
          .arg(QLatin1String(kTraceVariable))};

  CommandLine() : help(parser.addHelpOption()), version(parser.addVersionOption()) {
    QCoreApplication::setApplicationName(QStringLiteral("kbc-q7"));
    QCoreApplication::setApplicationVersion(text::version());
    parser.setApplicationDescription(text::app_title());
    parser.addOption(simulate);
    parser.addOption(verbose);
  }
};

}  // namespace

std::optional<int> take_simulated_count(QStringList& arguments) {
  const QString prefix = QStringLiteral("--simulate=");
  int count = 1;
  for (QString& argument : arguments) {
    if (argument == QStringLiteral("--")) {
      break;
    }
    if (!argument.startsWith(prefix)) {
      continue;
    }
    // Digits only, as kbcctl takes them: no sign, no blanks.
    const QString digits = argument.mid(prefix.size());
    bool number = !digits.isEmpty() && std::all_of(digits.begin(), digits.end(),
                                                   [](QChar c) { return c >= u'0' && c <= u'9'; });
    count = number ? digits.toInt(&number) : 0;
    if (!number || count < 1 || count > sim::kMostSimulated) {
      return std::nullopt;
    }
    argument = QStringLiteral("--simulate");
  }
  return count;
}

void answer_help_or_version(const QCoreApplication& app) {
  CommandLine line;
  QStringList arguments = app.arguments();
  take_simulated_count(arguments);
  // Options of the window system are not known yet; the full check comes with the window.
  line.parser.parse(arguments);
  if (line.parser.isSet(line.help)) {
    line.parser.showHelp(0);
  }
  if (line.parser.isSet(line.version)) {
    line.parser.showVersion();
  }
}

StartOptions start_options(const QCoreApplication& app) {
  CommandLine line;
  QStringList arguments = app.arguments();
  const std::optional<int> count = take_simulated_count(arguments);
  if (!count) {
    std::fprintf(stderr, "kbc-q7: --simulate=N takes a number of recorders from 1 to %d\n",
                 sim::kMostSimulated);
    std::exit(EXIT_FAILURE);
  }
  // Further arguments name no document: the tool opens none.
  line.parser.process(arguments);
  return {line.parser.isSet(line.simulate) ? *count : 0,
          line.parser.isSet(line.verbose) ||
              qEnvironmentVariable(kTraceVariable) == QLatin1String("1")};
}

bool CHeronFtpApp::InitInstance() {
  const StartOptions options = start_options(*this);
  const int simulated = options.simulated;
  // A desktop session keeps what its programs write in the user's journal: the trace goes there
  // only when asked for.
  link::set_trace_sink(options.verbose ? link::TraceSink([](std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fputc('\n', stderr);
  })
                                       : link::TraceSink());

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

  if (simulated > 0) {
    auto bus = std::make_unique<sim::SimBus>(static_cast<std::size_t>(simulated));
    simulated_ = bus.get();
    port_ = std::move(bus);
  } else {
    port_ = std::make_unique<link::RealPort>();
  }
  // Now that the command line has been read under the program's own name.
  if (!present_application(*this)) {
    link::trace("Qt's Chinese translations are not installed: its standard texts stay English");
  }
  // The simulated recorder answers at once; the pauses between commands stay real all the same.
  // The built-in simulation holds no evidence: only recorders on the bus are entered.
  frame_ = std::make_unique<CMainFrame>(*bar, link::Link{*port_, pause_}, clock_,
                                        simulated_ ? nullptr : &trail_);
  // The station's evidence store and erase rule. A station file that cannot be read leaves the
  // strictest rule: no erase without a verified offload.
  QStringList problems;
  offload::Station station;
  auto read = offload::read_station();
  if (auto* found = std::get_if<std::vector<offload::StationProblem>>(&read)) {
    for (const std::string& line : offload::station_problem_lines(*found, true)) {
      problems.push_back(from_utf8(line));
    }
    station.erase.rule = console::EraseRule::require_offload;
  } else {
    station = std::get<offload::Station>(std::move(read));
    for (const console::Wording& weakened : station.weakened) {
      problems.push_back(from_utf8(weakened.chinese));
    }
  }
  // Simulated recorders' sample disks go to a store of their own, never the station's.
  const std::filesystem::path store =
      simulated_ ? evidence::simulated_store() : station.store.value_or(evidence::default_store());
  offload::DiskWatch* watch = &disk_watch_;
  if (simulated_) {
    simulated_watch_.emplace(*simulated_, offload::simulated_disk_folder());
    watch = &*simulated_watch_;
  }
  frame_->set_evidence(store, station.erase, watch, problems, station.upload.has_value(),
                       simulated_ ? std::optional(store) : station.erase_store);
  frame_->show_store_space(station, store);
  frame_->set_station_folder(station::state_folder(simulated_ != nullptr));
  if (simulated_) {
    frame_->mark_simulated();
    frame_->follow(*simulated_);
  } else if (QString why; !frame_->follow_udev(&why)) {
    link::tracef("Cannot hear udev (%s): the recorder list follows only the buttons",
                 why.toLocal8Bit().constData());
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
