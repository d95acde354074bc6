// An object of a C library, ours until it goes, then freed by the library's own function:
// Owned<udev, udev_unref>, Owned<TSK_FS_INFO, tsk_fs_close>.
#pragma once

#include <memory>

namespace kbc::link {

template <auto release>
struct FreedBy {
  template <typename T>
  void operator()(T* object) const {
    release(object);
  }
};

template <typename T, auto release>
using Owned = std::unique_ptr<T, FreedBy<release>>;

}  // namespace kbc::link
