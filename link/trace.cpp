#include "trace.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>

namespace kbc::link {
namespace {

std::mutex& sink_mutex() {
  static std::mutex mutex;
  return mutex;
}

TraceSink& sink() {
  static TraceSink current = [](std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  };
  return current;
}

thread_local std::string context;

}  // namespace

TraceSink set_trace_sink(TraceSink next) {
  const std::lock_guard lock(sink_mutex());
  TraceSink previous = std::move(sink());
  sink() = std::move(next);
  return previous;
}

void trace(std::string_view line) {
  const std::lock_guard lock(sink_mutex());
  if (!sink()) {
    return;
  }
  if (context.empty()) {
    sink()(line);
  } else {
    sink()(context + ": " + std::string(line));
  }
}

void tracef(const char* format, ...) {
  char line[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  trace(line);
}

TraceContext::TraceContext(std::string name) : previous_(std::exchange(context, std::move(name))) {}

TraceContext::~TraceContext() {
  context = std::move(previous_);
}

}  // namespace kbc::link
