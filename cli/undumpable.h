// While kbcctl holds a password, no core file is written and no other process of the user may
// read its memory: the process is made non-dumpable (PR_SET_DUMPABLE) for that time.
#pragma once

namespace kbc::cli {

class Undumpable {
 public:
  Undumpable();
  // Dumpable again as before, once every copy of the password is wiped.
  ~Undumpable();
  Undumpable(const Undumpable&) = delete;
  Undumpable& operator=(const Undumpable&) = delete;

 private:
  int previous_;
};

}  // namespace kbc::cli
