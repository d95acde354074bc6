// CHeronFtpApp: the application. Start-up guards against a second copy, picks the recorder the
// console talks to (the USB bus, or the built-in simulation with --simulate) and shows the main
// frame, centred, titled with the application title.
#pragma once

#include <QApplication>
#include <memory>
#include <optional>

#include "console/console.h"
#include "journal/fields.h"
#include "journal/journal_trail.h"
#include "link/port.h"
#include "link/timing.h"
#include "offload/disk_watch.h"
#include "offload/sim_disk_watch.h"
#include "sim/sim_bus.h"

namespace kbc::app {

class CMainFrame;
class SingleInstance;

// Centres a window, its window frame included, on the whole screen it is on.
void centre_on_desktop(QWidget& window);

// What the desktop learns of the application before its first window: its name, the desktop
// entry's id, which is the X11 window class and the Wayland app id; no display name, which the
// platform would add to every window title; and Qt's own texts (standard buttons, context menus)
// in Simplified Chinese, as the tool's are. False where Qt's translations are not installed.
bool present_application(QGuiApplication& app);

// Qt's parser has no option with an optional value: each --simulate=N among the arguments becomes
// --simulate. The last N, 1 without one; nullopt for an N that is no number of simulated recorders.
std::optional<int> take_simulated_count(QStringList& arguments);

// Answers --help and --version, which end the process, before anything needs a display.
void answer_help_or_version(const QCoreApplication& app);
// The environment switch that asks for the trace, as -v does: KBC_TRACE=1.
inline constexpr char kTraceVariable[] = "KBC_TRACE";

struct StartOptions {
  int simulated;  // 1 for --simulate, N for --simulate=N, 0 for the USB bus
  bool verbose;   // -v, --verbose or KBC_TRACE=1: the link's trace on standard error
};

// Reads the whole command line: --help, --version, unknown options and a bad --simulate=N end the
// process.
StartOptions start_options(const QCoreApplication& app);

class CHeronFtpApp final : public QApplication {
  Q_OBJECT

 public:
  CHeronFtpApp(int& argc, char** argv);
  ~CHeronFtpApp() override;

  // False when the process is to end at once, with exit_code(): a copy already runs (0), or the
  // guard or the main frame could not be made (1).
  bool InitInstance();
  int exit_code() const { return exit_code_; }

  CMainFrame* main_frame() const { return frame_.get(); }

 private:
  int exit_code_ = 0;
  std::unique_ptr<SingleInstance> instance_;
  std::unique_ptr<link::Port> port_;
  sim::SimBus* simulated_ = nullptr;  // port_, when it is the simulated bus
  link::RealPause pause_;
  console::SystemClock clock_;
  journal::JournalTrail trail_{std::string(journal::kWindowIdentifier)};
  offload::UdevDiskWatch disk_watch_;
  std::optional<offload::SimDiskWatch> simulated_watch_;
  std::unique_ptr<CMainFrame> frame_;  // last: its console holds the port, pause and clock
};

}  // namespace kbc::app
