#include "console/disk_switch.h"

#include "console/messages.h"

namespace kbc::console {

DiskSwitch switch_for_offload(link::Link link, const link::UsbDevice& device,
                              const link::Secret& password) {
  DiskSwitch result;
  std::string last;
  result.outcome = run_sequence(
      link::GbkText::from_utf8(password.view()),
      [&] { return link::Session::open_listed(link, device); },
      [&](std::string_view text) { last = text; }, {PreCheck::full, Gate::either},
      [&](Call& call) {
        const link::DeviceInfo info = link::get_device_info(call.device, call.password);
        if (info.status != link::spec(link::Cmd::get_device_info).statuses.ok) {
          call.report(msg::reconnect);
          return false;
        }
        result.record = info.record();
        if (!link::switch_msdc(call.device, call.password)) {
          call.report(msg::reconnect);
          return false;
        }
        call.report(msg::msdc_done);
        return true;
      });
  if (!result.switched() && !last.empty()) {
    result.report = last;
  }
  return result;
}

}  // namespace kbc::console
