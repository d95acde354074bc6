#include "console/console.h"

#include "console/control_ids.h"
#include "console/enable_flags.h"

namespace kbc::console {

Console::Console(View& view, link::Link link, Clock& clock)
    : view_(view), link_(link), clock_(clock) {}

bool Console::on_command(int id) {
  if (const SettingButton* button = setting_button(id)) {
    return apply_setting(*button);
  }
  switch (id) {
    case idc::verify:
      return verify_password();
    case idc::msdc:
      return switch_to_disk();
    case idc::erase:
      return erase_all_files();
    default:
      return false;
  }
}

bool Console::is_enabled(int id) const {
  if (id == idc::change_password) {
    return m_bPasswordVerified != 0;
  }
  if (const auto flag = feature_flag(id)) {
    return m_bFeatureEnabled[*flag] != 0;
  }
  return true;
}

}  // namespace kbc::console
