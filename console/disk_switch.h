// The recorder's side of an offload: in one session, the password gate of "移动磁盘" (either
// password), the identity record read with the password, and switch_msdc as the button sends it.
// After it the recorder leaves the bus and comes back on the same port as a USB disk.
#pragma once

#include <optional>
#include <string>

#include "console/handler.h"
#include "link/identity.h"
#include "link/secret.h"
#include "link/session.h"

namespace kbc::console {

struct DiskSwitch {
  Outcome outcome = Outcome::no_recorder;
  // What ended it short of the switch, as the operator sees it: "密码错误!", "重新连接!".
  std::optional<std::string> report;
  std::optional<link::IdentityRecord> record;

  bool switched() const { return outcome == Outcome::succeeded; }
};

// The recorder listed at `device`, opened without scanning again.
DiskSwitch switch_for_offload(link::Link link, const link::UsbDevice& device,
                              const link::Secret& password);

}  // namespace kbc::console
