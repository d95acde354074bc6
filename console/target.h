// A recorder of the last scan that an operation on several recorders serves.
#pragma once

#include <optional>

#include "link/gbk.h"
#include "link/port.h"

namespace kbc::console {

// A recorder of the last scan, with its serial number where it is known already.
struct Target {
  link::UsbDevice device;
  std::optional<link::GbkText> serial;
};

}  // namespace kbc::console
