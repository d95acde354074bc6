// Everything the simulated recorder remembers.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "link/identity.h"

namespace kbc::sim {

struct RecorderState {
  // GBK bytes, as the recorder stores them.
  std::string admin_password = "888888";
  std::string normal_password = "000000";
  std::string clock;  // the last time text set, without its line feed; empty until set

  // The name of the last setting command carried out per group ("set_video_1080p30", ...), empty
  // while the group was never set.
  std::string video, segment, photo, brightness, screen_off, ir;
  std::optional<bool> voice_prompt;
  std::optional<bool> motion_detection;
  bool pre_recording = false;  // while on, set_motion_on is refused with outcome 2

  link::IdentityRecord identity;    // serial "KBC0001" and default user and unit fields
  std::string sn_text = "KBC0001";  // what get_sn answers, at most 10 bytes
  std::string officer_identifier;   // the last set_officer_info text

  bool mass_storage = false;  // after switch_msdc: answers nothing until reconnected
  int erase_count = 0;        // clear_all_files carried out

  RecorderState();

  // get_sn's text, and its first seven bytes as the record's serial number.
  void set_serial(std::string_view sn_text);
};

// The serial number of the n-th simulated recorder (from 1): "KBC0001", "KBC0002", ...
std::string simulated_serial(std::size_t n);

}  // namespace kbc::sim
