#include <array>
#include <vector>

#include "console/console.h"
#include "console/control_ids.h"

namespace kbc::console {
namespace {

struct ShownControl {
  int id;
  int limit;  // GBK bytes for an edit field; 0 for the others
};

// In the order they are shown; each edit field is limited right after it is shown.
constexpr std::array<ShownControl, 21> kShown{{
    {idc::video_list, 0},
    {idc::video, 0},
    {idc::segment_list, 0},
    {idc::segment, 0},
    {idc::photo_list, 0},
    {idc::photo, 0},
    {idc::screen_off_list, 0},
    {idc::screen_off, 0},
    {idc::ir_list, 0},
    {idc::ir, 0},
    {idc::voice_list, 0},
    {idc::voice, 0},
    {idc::unit_number_field, 12},
    {idc::unit_number, 0},
    {idc::unit_name_field, 32},
    {idc::unit_name, 0},
    {idc::user_number_field, 6},
    {idc::user_number, 0},
    {idc::user_name_field, 32},
    {idc::user_name, 0},
    {idc::device_info, 0},
}};

// The lists refilled on every show hold exactly the items their button knows.
void refill_from_table(View& view, int button) {
  const SettingButton& table = *setting_button(button);
  std::vector<std::string_view> items;
  for (const Setting& row : table.rows) {
    items.push_back(row.text);
  }
  view.refill_list(table.list, items);
}

}  // namespace

void Console::on_show() {
  m_bFeatureEnabled.fill(0);
  m_bPasswordVerified = 0;
  view_.limit_field(idc::password, static_cast<int>(kPasswordSize));
  refill_from_table(view_, idc::video);
  refill_from_table(view_, idc::photo);
  for (const ShownControl& control : kShown) {
    view_.show_control(control.id, true);
    if (control.limit > 0) {
      view_.limit_field(control.id, control.limit);
    }
  }
}

}  // namespace kbc::console
