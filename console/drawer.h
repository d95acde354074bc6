// The recorders on the bus as a view lists them for the operator to pick one: where each sits and
// its serial number, read once per arrival, and the pick, which the console's buttons then talk to
// alone. It runs where the console runs and uses the console's link.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/console.h"
#include "link/session.h"

namespace kbc::console {

struct ConnectedRecorder {
  std::string location;               // "001/005"
  std::optional<std::string> serial;  // get_sn's text as UTF-8, unescaped; nullopt: not read
  friend bool operator==(const ConnectedRecorder&, const ConnectedRecorder&) = default;
};

struct DrawerState {
  std::vector<ConnectedRecorder> connected{};  // by location
  // The operator's pick as it was picked; picked_gone once that arrival has left the bus.
  std::optional<ConnectedRecorder> picked{};
  bool picked_gone = false;
  friend bool operator==(const DrawerState&, const DrawerState&) = default;
};

class Drawer {
 public:
  Drawer(Console& console, link::Link link);

  // A device arrived at this location or left it: whatever sits there next is a new arrival,
  // whose serial number the next refresh reads.
  void forget(std::string_view location);
  // Scans the bus and reads get_sn of each recorder that arrived since the last refresh, in a
  // session of its own. When the picked recorder has gone, the console's buttons send nothing to
  // any other: they report "重新连接!" until the operator picks again.
  void refresh();
  // The operator picks a recorder as the last refresh listed it; every later button talks to it
  // alone. False, changing nothing, when that refresh listed no such recorder.
  bool pick(const ConnectedRecorder& recorder);

  DrawerState state() const;
  // The recorder the console's buttons talk to: the pick while it is on the bus, else the only
  // recorder connected while none was picked; nullopt when a button reaches none.
  std::optional<ConnectedRecorder> addressed() const;
  // The pane's line naming the addressed recorder ("记录仪 KBC0001 (001/005):") when it is
  // another than the one named last, so that every later report reads under it; nullopt while it
  // stays the same or there is none.
  std::optional<std::string> heading_if_changed();

 private:
  struct Arrival {
    std::optional<std::string> serial;
    std::uint64_t number;  // tells two arrivals at one location apart
  };

  Console& console_;
  link::Link link_;
  std::map<std::string, Arrival, std::less<>> seen_;  // by location, while listed
  std::vector<std::string> listed_;                   // the last refresh, by location
  std::uint64_t arrivals_ = 0;
  std::optional<ConnectedRecorder> picked_;
  std::uint64_t picked_arrival_ = 0;
  bool picked_gone_ = false;
  std::optional<ConnectedRecorder> named_;
};

}  // namespace kbc::console
