// Which feature flag gates which button of the settings bar.
#pragma once

#include <array>
#include <cstddef>
#include <optional>

#include "console/control_ids.h"

namespace kbc::console {

inline constexpr std::size_t kFeatureFlagCount = 24;

struct FlagRow {
  std::size_t flag;
  int button;
};

// Flags 11 to 13, 15, 16 and 19 to 23 are set and cleared with the rest but gate nothing.
inline constexpr std::array<FlagRow, 14> kFlagTable{{
    {0, idc::erase},
    {1, idc::unit_number},
    {2, idc::user_number},
    {3, idc::unit_name},
    {4, idc::user_name},
    {5, idc::device_info},
    {6, idc::video},
    {7, idc::segment},
    {8, idc::photo},
    {9, idc::brightness},
    {10, idc::screen_off},
    {14, idc::ir},
    {17, idc::voice},
    {18, idc::motion},
}};

// The flag gating this button; nullopt for a button without one.
std::optional<std::size_t> feature_flag(int button);

}  // namespace kbc::console
