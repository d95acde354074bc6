// kbc_drawer_benchmark FOLDER: how long the window's event loop stalls at most while the drawer
// view follows a station service's folder. Shows the view on FOLDER, ticks a 5 ms timer on the
// user-interface thread, and waits for a service to take the folder and then to leave it. Prints
// the largest gap between ticks, the reloads the view made and the most slots it showed.
// tests/emulated/station_benchmark.sh runs it beside `kbcctl station --once` on a drawer.
#include <QApplication>
#include <QElapsedTimer>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "app/drawer_view.h"
#include "station/slot_state.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kbc_drawer_benchmark FOLDER\n");
    return 2;
  }
  QApplication application(argc, argv);
  const std::filesystem::path folder = argv[1];
  kbc::app::DrawerView view(folder, nullptr);
  view.show();

  qint64 largest_gap = 0, longest_reload = 0;
  int most_rows = 0, reloads = 0;
  bool seen_running = false;
  QElapsedTimer since_tick, waited;
  since_tick.start();
  waited.start();
  QTimer ticks;
  QObject::connect(&ticks, &QTimer::timeout, [&] {
    largest_gap = std::max(largest_gap, since_tick.restart());
    most_rows = std::max(most_rows, view.table()->rowCount());
    const bool running = kbc::station::service_running(folder);
    seen_running = seen_running || running;
    // Done once the service has been and gone, or after ten minutes of nothing.
    if ((seen_running && !running) || (!seen_running && waited.elapsed() > 600'000)) {
      application.quit();
    }
  });
  // What a reload costs is part of the gap; counted apart as well.
  QObject::connect(&view, &kbc::app::DrawerView::reloaded, [&](qint64 ms) {
    ++reloads;
    longest_reload = std::max(longest_reload, ms);
  });
  ticks.start(5);
  application.exec();
  std::printf(
      "drawer view: longest UI stall %lld ms, %d reloads (longest %lld ms), up to %d slots%s\n",
      static_cast<long long>(largest_gap), reloads, static_cast<long long>(longest_reload),
      most_rows, seen_running ? "" : " -- NO SERVICE CAME");
  return seen_running ? 0 : 1;
}
