// A station profile read from its file, as kbcctl and the window both take it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>

#include "console/profile.h"

namespace kbc::console {

// The largest profile read; a station profile is a dozen lines.
inline constexpr std::size_t kMostProfileBytes = 64 * 1024;

// The profile in the file at `path`, or why it cannot be had, naming the file as `shown_as`
// (UTF-8): "station.toml:4: segment: '12分钟' is no item of ...". Only a regular file is read.
std::variant<Profile, std::string> read_profile(const std::string& path, std::string_view shown_as);

}  // namespace kbc::console
