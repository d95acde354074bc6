// A station profile: the settings and unit fields that every recorder of a station gets, as a
// small TOML file. Its keys are kbcctl's command names and its values what the command takes, a
// list item by its text or its ASCII alias:
//
//   video = "1920X1080(30)"
//   segment = "10min"
//   unit-name = "深圳市公安局"
//
// Every key is optional. User number and name belong to one officer and stay out of profiles.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "console/identity.h"
#include "console/setting_tables.h"
#include "console/wording.h"

namespace kbc::console {

struct ProfileEntry {
  std::string_view key;
  // A list's item, or a unit field's text (UTF-8): the one the profile gives.
  const SettingButton* list = nullptr;
  const Setting* item = nullptr;
  const IdentityButton* field = nullptr;
  std::string text;

  // What the recorder gets: the item's own text (an alias given stands for it), or the field's.
  std::string value() const { return item != nullptr ? std::string(item->text) : text; }
};

struct Profile {
  // In the settings bar's order, the unit fields last, whatever the file's order.
  std::vector<ProfileEntry> entries;
};

// One thing wrong with a profile and where: a key that is no profile's, a value its command would
// refuse, or a file that is no TOML.
struct ProfileProblem {
  std::size_t line;  // from 1; 0 for the file as a whole
  Wording said;
};

// Everything wrong with a profile, in the file's order. A file that is no TOML has one problem,
// the first place its reader stopped at.
struct ProfileError {
  std::vector<ProfileProblem> problems;
};

std::variant<Profile, ProfileError> parse_profile(std::string_view text);

// Every key a profile may hold, in the order a profile is applied.
std::span<const std::string_view> profile_keys();

}  // namespace kbc::console
