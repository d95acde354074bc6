// The recorders on the bus. One scan lists them; each listed recorder can then be opened on its
// own without scanning again, so that a drawer of them is enumerated once and then served one
// thread per recorder.
#pragma once

#include <optional>
#include <vector>

#include "gbk.h"
#include "port.h"
#include "session.h"

namespace kbc::link {

// usb_init, the two finds with their pauses, then the recorders (vendor 0x4255) of the walk in
// bus order. Nothing is opened.
std::vector<UsbDevice> scan_recorders(Link& link);

// get_sn's text of a listed recorder, read in a session of its own without a password; nullopt
// when the recorder did not open or get_sn failed.
std::optional<GbkText> read_serial(Link& link, const UsbDevice& device);

struct ListedRecorder {
  UsbDevice device;
  std::optional<GbkText> serial;
};

// Every recorder on the bus in bus order, each with its serial number.
std::vector<ListedRecorder> list_recorders(Link& link);

// The recorder a session of `link` would open, with its serial number, after one scan; nullopt
// when it would open none.
std::optional<ListedRecorder> identify_recorder(Link& link);

}  // namespace kbc::link
