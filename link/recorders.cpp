#include "recorders.h"

#include "command_table.h"
#include "commands.h"
#include "trace.h"

namespace kbc::link {

std::vector<UsbDevice> scan_recorders(Link& link) {
  link.port.init();
  tracef("Busses found: %d", link.port.find_busses());
  link.pause.pause(kPause);
  tracef("Devices found: %d", link.port.find_devices());
  link.pause.pause(kPause);

  // On Linux every hub and device the user may open is listed; only the recorder's vendor counts.
  std::vector<UsbDevice> recorders;
  for (UsbDevice& device : link.port.devices()) {
    if (device.vendor == kRecorderVendor) {
      recorders.push_back(std::move(device));
    }
  }
  return recorders;
}

std::optional<GbkText> read_serial(Link& link, const UsbDevice& device) {
  Session session = Session::open_listed(link, device);
  if (!session.ready()) {
    return std::nullopt;
  }
  SerialNumber sn = get_sn(session.device());
  if (sn.status != spec(Cmd::get_sn).statuses.ok) {
    return std::nullopt;
  }
  return std::move(sn.text);
}

std::vector<ListedRecorder> list_recorders(Link& link) {
  std::vector<ListedRecorder> listed;
  for (UsbDevice& device : scan_recorders(link)) {
    std::optional<GbkText> serial = read_serial(link, device);
    listed.push_back({std::move(device), std::move(serial)});
  }
  return listed;
}

std::optional<ListedRecorder> identify_recorder(Link& link) {
  const std::vector<UsbDevice> recorders = scan_recorders(link);
  const UsbDevice* chosen = chosen_recorder(recorders, link.location);
  if (chosen == nullptr) {
    return std::nullopt;
  }
  return ListedRecorder{*chosen, read_serial(link, *chosen)};
}

}  // namespace kbc::link
