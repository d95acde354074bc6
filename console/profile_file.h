// A station profile read from its file, as kbcctl and the window both take it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "console/profile.h"

namespace kbc::console {

// The largest profile read; a station profile is a dozen lines.
inline constexpr std::size_t kMostProfileBytes = 64 * 1024;

// The bytes of a small settings file (a profile, the station file), or why it cannot be read: only
// a regular file of at most kMostProfileBytes.
std::variant<std::string, Wording> read_settings_file(const std::string& path);

// The profile in the file at `path`, or everything wrong with it. Only a regular file is read; a
// file that cannot be read at all is one problem of line 0.
std::variant<Profile, ProfileError> read_profile(const std::string& path);

enum class Language { english, chinese };

// Each problem as a line naming the file as `shown_as` (UTF-8) and its line:
// "station.toml:4: segment: '12分钟' is no item of ..." for kbcctl, "station.toml 第4行: segment:
// '12分钟' 不是列表中的选项..." for the window.
std::vector<std::string> problem_lines(const ProfileError& error, std::string_view shown_as,
                                       Language language);

}  // namespace kbc::console
