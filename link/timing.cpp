#include "timing.h"

#include <thread>

namespace kbc::link {

void RealPause::pause(std::chrono::milliseconds duration) {
  std::this_thread::sleep_for(duration);
}

}  // namespace kbc::link
