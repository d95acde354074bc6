// Diagnostic trace lines. Nothing reads them; they go to standard output unless a program
// redirects or silences them. Never pass a password or any other argument text.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace kbc::link {

using TraceSink = std::function<void(std::string_view line)>;

// Replaces the sink; an empty sink silences the trace. Returns the previous sink. The sink is
// called with one line at a time, never from two threads at once.
TraceSink set_trace_sink(TraceSink sink);

void trace(std::string_view line);

[[gnu::format(printf, 1, 2)]] void tracef(const char* format, ...);

// While it lives, the trace lines of this thread start with "`name`: ", so that the lines of
// recorders served at the same time can be told apart.
class TraceContext {
 public:
  explicit TraceContext(std::string name);
  ~TraceContext();
  TraceContext(const TraceContext&) = delete;
  TraceContext& operator=(const TraceContext&) = delete;

 private:
  std::string previous_;
};

}  // namespace kbc::link
