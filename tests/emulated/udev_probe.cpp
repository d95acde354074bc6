// udev_probe: a libudev monitor on the usb subsystem in a program on the emulated bus, to show
// that what the bus plugs in and pulls out reaches the program as udev events.
//
//   udev_probe FIFO COMMAND...
//
// Listens first. Then for each COMMAND ("add recorder=B", "remove 001/003"): writes it as one line
// to FIFO (the bus's --control), waits for the usb_device event it causes and prints it as
// "ACTION LOCATION VENDOR" ("add 001/004 4255"), followed by the recorders a libusb 0.1 scan
// finds right then, sorted ("recorders: 001/003 001/004"). Exits 0 when every event came, 1 when
// one did not come within 10 seconds, 2 on a bad command line.
#include <libudev.h>
#include <poll.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "link/real_port.h"
#include "link/recorders.h"
#include "link/trace.h"

namespace {

constexpr int kWaitMs = 10000;

struct UdevUnref {
  void operator()(udev* u) const { udev_unref(u); }
  void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
  void operator()(udev_device* d) const { udev_device_unref(d); }
};

// The probe answers at once; the scan's pauses are the link's business, not the events'.
class NoPause final : public kbc::link::Pause {
 public:
  void pause(std::chrono::milliseconds) override {}
};

// libusb 0.1 lists a device it has not seen before first, so the order says nothing here.
std::string recorders_now() {
  kbc::link::RealPort port;
  NoPause pause;
  kbc::link::Link link{port, pause};
  std::vector<std::string> locations;
  for (const kbc::link::UsbDevice& device : kbc::link::scan_recorders(link)) {
    locations.push_back(device.location());
  }
  std::sort(locations.begin(), locations.end());
  std::string text = "recorders:";
  for (const std::string& location : locations) {
    text += " " + location;
  }
  return text;
}

const char* or_dash(const char* text) {
  return text != nullptr ? text : "-";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: udev_probe FIFO COMMAND...\n");
    return 2;
  }
  kbc::link::set_trace_sink({});

  std::unique_ptr<udev, UdevUnref> context(udev_new());
  std::unique_ptr<udev_monitor, UdevUnref> monitor(
      udev_monitor_new_from_netlink(context.get(), "udev"));
  if (!monitor ||
      udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "usb", "usb_device") < 0 ||
      udev_monitor_enable_receiving(monitor.get()) < 0) {
    std::fprintf(stderr, "udev_probe: cannot listen for udev events\n");
    return 1;
  }

  for (int i = 2; i < argc; ++i) {
    std::ofstream(argv[1]) << argv[i] << '\n';
    pollfd ready{udev_monitor_get_fd(monitor.get()), POLLIN, 0};
    if (poll(&ready, 1, kWaitMs) <= 0) {
      std::printf("no event within %d ms\n", kWaitMs);
      return 1;
    }
    std::unique_ptr<udev_device, UdevUnref> device(udev_monitor_receive_device(monitor.get()));
    if (!device) {
      std::printf("an event that could not be read\n");
      return 1;
    }
    std::string location = or_dash(udev_device_get_devnode(device.get()));
    constexpr std::string_view kPrefix = "/dev/bus/usb/";
    if (location.starts_with(kPrefix)) {
      location.erase(0, kPrefix.size());
    }
    std::printf("%s %s %s\n%s\n", or_dash(udev_device_get_action(device.get())), location.c_str(),
                or_dash(udev_device_get_property_value(device.get(), "ID_VENDOR_ID")),
                recorders_now().c_str());
    std::fflush(stdout);
  }
  return 0;
}
