// Diagnostic trace lines. Nothing reads them; they go to standard output unless a program
// redirects or silences them. Never pass a password or any other argument text.
#pragma once

#include <functional>
#include <string_view>

namespace kbc::link {

using TraceSink = std::function<void(std::string_view line)>;

// Replaces the sink; an empty sink silences the trace. Returns the previous sink.
TraceSink set_trace_sink(TraceSink sink);

void trace(std::string_view line);

[[gnu::format(printf, 1, 2)]] void tracef(const char* format, ...);

}  // namespace kbc::link
