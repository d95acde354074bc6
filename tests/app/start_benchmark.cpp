// kbc_start_benchmark PROGRAM [ARGS...]: how long a program takes from its start to the first map
// of a top-level window on the X server of $DISPLAY, and how much memory it holds then (resident
// set and its peak). Runs it RUNS times (default 7; KBC_RUNS), killing it after each map, and
// prints the minimum, median and maximum. Compare the window with kbc_bare_window, a bare Qt 6
// main window, on the same server:
//   kbc_start_benchmark build/app/kbc-q7 --simulate
//   kbc_start_benchmark build/tests/app/kbc_bare_window
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Sample {
  double ms;
  double rss_mib;
  double peak_mib;
};

// A field of /proc/PID/status in kB, as MiB.
double status_mib(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field + ":", 0) == 0) {
      return std::strtod(line.c_str() + field.size() + 1, nullptr) / 1024;
    }
  }
  return 0;
}

struct XcbClose {
  void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};

bool run_once(char** argv, Sample& sample) {
  const std::unique_ptr<xcb_connection_t, XcbClose> x(xcb_connect(nullptr, nullptr));
  if (xcb_connection_has_error(x.get())) {
    std::fprintf(stderr, "kbc_start_benchmark: no X server at $DISPLAY\n");
    return false;
  }
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x.get())).data->root;
  const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_change_window_attributes(x.get(), root, XCB_CW_EVENT_MASK, &mask);
  xcb_flush(x.get());

  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) != 0) {
    std::perror(argv[0]);
    return false;
  }
  bool mapped = false;
  while (!mapped) {
    std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> event(xcb_wait_for_event(x.get()),
                                                                     &std::free);
    if (!event) {
      break;
    }
    mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
  }
  const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
  sample = {took.count(), status_mib(pid, "VmRSS"), status_mib(pid, "VmHWM")};
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return mapped;
}

void print(const char* what, std::vector<double> values, const char* unit) {
  std::sort(values.begin(), values.end());
  std::printf("%-14s min %8.1f  median %8.1f  max %8.1f %s\n", what, values.front(),
              values[values.size() / 2], values.back(), unit);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: kbc_start_benchmark PROGRAM [ARGS...]\n");
    return 2;
  }
  const char* runs_text = std::getenv("KBC_RUNS");
  const int runs = runs_text ? std::max(1, std::atoi(runs_text)) : 7;
  std::vector<double> ms, rss, peak;
  for (int i = 0; i < runs; ++i) {
    Sample sample{};
    if (!run_once(argv + 1, sample)) {
      return 1;
    }
    ms.push_back(sample.ms);
    rss.push_back(sample.rss_mib);
    peak.push_back(sample.peak_mib);
  }
  std::printf("%s: %d runs\n", argv[1], runs);
  print("first map", ms, "ms");
  print("resident", rss, "MiB");
  print("peak resident", peak, "MiB");
  return 0;
}
