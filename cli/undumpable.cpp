#include "cli/undumpable.h"

#include <sys/prctl.h>

namespace kbc::cli {

Undumpable::Undumpable() : previous_(prctl(PR_GET_DUMPABLE)) {
  prctl(PR_SET_DUMPABLE, 0);
}

Undumpable::~Undumpable() {
  // Only 0 and 1 can be set; a process that was less dumpable than that stays as it is now.
  if (previous_ == 1) {
    prctl(PR_SET_DUMPABLE, 1);
  }
}

}  // namespace kbc::cli
