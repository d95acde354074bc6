#include "trace.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace kbc::link {
namespace {

TraceSink& sink() {
  static TraceSink current = [](std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  };
  return current;
}

}  // namespace

TraceSink set_trace_sink(TraceSink next) {
  TraceSink previous = std::move(sink());
  sink() = std::move(next);
  return previous;
}

void trace(std::string_view line) {
  if (sink()) {
    sink()(line);
  }
}

void tracef(const char* format, ...) {
  if (!sink()) {
    return;
  }
  char line[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  sink()(line);
}

}  // namespace kbc::link
