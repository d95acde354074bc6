// The station profile the tests and the benchmark apply: every setting, two of them by their
// aliases, and both unit fields with texts the simulated recorders do not hold yet.
#pragma once

#include <string_view>

namespace kbc::testing {

inline constexpr std::string_view kStationProfile = R"toml(# Station profile
video = "1920X1080(30)"
segment = "10分钟"
photo = "2688X1512"
brightness = "中"
screen-off = "1分钟"
ir = "自动"
voice = "on"
motion = "off"
unit-number = "A7"
unit-name = "龙华分局"
)toml";

// The commands it sends after check_admin_psw and set_time, by their letters: the settings in
// the settings bar's order, then the record read and written back.
inline constexpr std::string_view kStationLetters = "HrfuA]%,}{";

}  // namespace kbc::testing
