// The lock indicators of the status bar. Qt has no call for the lock state, so it is read from
// the keyboards' LEDs, which the kernel shows under /sys/class/leds on X11 and Wayland alike.
#pragma once

#include <QString>
#include <optional>

namespace kbc::app {

struct LockState {
  // nullopt: no keyboard shows that LED (or the folder cannot be read).
  std::optional<bool> caps, num, scroll;
};

// A lock is on when any keyboard's LED for it is lit.
LockState read_lock_leds(const QString& leds_dir = QStringLiteral("/sys/class/leds"));

}  // namespace kbc::app
