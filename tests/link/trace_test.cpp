// The trace from several threads: whole lines, one sink call at a time, each thread's own name.
#include <gmock/gmock.h>

#include <string>
#include <thread>
#include <vector>

#include "link/trace.h"

namespace kbc::link {
namespace {

TEST(Trace, LinesOfRecordersServedAtOnceStayWholeAndNamed) {
  std::vector<std::string> lines;  // no lock of its own: the trace calls the sink one at a time
  const TraceSink previous =
      set_trace_sink([&](std::string_view line) { lines.emplace_back(line); });
  constexpr int kLines = 500;
  {
    std::vector<std::jthread> threads;
    for (const char* name : {"001/002", "001/003", "001/004"}) {
      threads.emplace_back([name] {
        const TraceContext context(name);
        for (int i = 0; i < kLines; ++i) {
          tracef("Devices found: %d", i);
        }
      });
    }
  }
  trace("Busses found: 1");
  set_trace_sink(previous);

  ASSERT_EQ(lines.size(), 3u * kLines + 1);
  for (const char* name : {"001/002", "001/003", "001/004"}) {
    int next = 0;
    for (const std::string& line : lines) {
      if (line.starts_with(name)) {
        EXPECT_EQ(line, std::string(name) + ": Devices found: " + std::to_string(next++));
      }
    }
    EXPECT_EQ(next, kLines);
  }
  // Outside a context the line is as it was traced.
  EXPECT_EQ(lines.back(), "Busses found: 1");
}

}  // namespace
}  // namespace kbc::link
