// The recorder settings console: the handlers behind the settings bar's buttons, the enable flags
// they set and the layout applied when the window is shown.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "console/setting_tables.h"
#include "console/view.h"
#include "link/identity.h"
#include "link/session.h"
#include "link/time_text.h"

namespace kbc::console {

inline constexpr std::string_view kAppTitle = "执法记录仪管理软件(KBC-Q7)";

// Where the console reads the PC's local time (set_time); tests inject a fixed one.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual link::LocalTime now() = 0;
};

class SystemClock final : public Clock {
 public:
  link::LocalTime now() override { return link::local_time_now(); }
};

struct IdentityButton;

class Console {
 public:
  Console(View& view, link::Link link, Clock& clock);

  // The show-window notification: locks the console, limits the fields, refills the lists.
  void on_show();
  // A button of the settings bar. True when the handler produced its success report.
  bool on_command(int id);
  // The change notification of a text field (the character filter of 1108 and 1113).
  void on_field_changed(int id);
  // The enabled state of a button under the current flags; buttons without a flag are enabled.
  bool is_enabled(int id) const;
  // Button 1114: the record as the recorder returned it, after its five lines were reported;
  // nullopt when it was not read.
  std::optional<link::IdentityRecord> show_device_info();

  std::array<std::uint8_t, 24> m_bFeatureEnabled{};
  std::uint8_t m_bPasswordVerified = 0;

 private:
  bool verify_password();
  bool switch_to_disk();
  bool erase_all_files();
  bool apply_setting(const SettingButton& button);
  bool set_identity_field(const IdentityButton& button);
  void refresh_officer_identifier();
  // Button 1019; true when the dialog changed a password.
  bool open_password_dialog();

  View& view_;
  link::Link link_;
  Clock& clock_;
};

}  // namespace kbc::console
