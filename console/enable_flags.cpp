#include "console/enable_flags.h"

#include <algorithm>

namespace kbc::console {

std::optional<std::size_t> feature_flag(int button) {
  const auto* row = std::ranges::find(kFlagTable, button, &FlagRow::button);
  if (row == kFlagTable.end()) {
    return std::nullopt;
  }
  return row->flag;
}

}  // namespace kbc::console
