// The clock text set_time carries: "YYYYMMDDhhmmss\n".
#pragma once

#include <string>

namespace kbc::link {

struct LocalTime {
  int year, month, day, hour, minute, second;
};

std::string time_text(const LocalTime& time);

// The PC's local time now.
LocalTime local_time_now();

}  // namespace kbc::link
