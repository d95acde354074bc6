#include "console/profile.h"

#include <toml++/toml.h>
#include <algorithm>
#include <array>
#include <optional>

#include "console/control_ids.h"
#include "link/gbk.h"

namespace kbc::console {
namespace {

struct Key {
  std::string_view name;  // kbcctl's command of the button
  int button;
};

// The settings bar's order: its rows from left to right, then the unit fields.
constexpr std::array<Key, 10> kKeys{{
    {"video", idc::video},
    {"segment", idc::segment},
    {"photo", idc::photo},
    {"ir", idc::ir},
    {"screen-off", idc::screen_off},
    {"voice", idc::voice},
    {"brightness", idc::brightness},
    {"motion", idc::motion},
    {"unit-number", idc::unit_number},
    {"unit-name", idc::unit_name},
}};

constexpr std::array<std::string_view, kKeys.size()> kKeyNames = [] {
  std::array<std::string_view, kKeys.size()> names{};
  std::ranges::transform(kKeys, names.begin(), &Key::name);
  return names;
}();

// The officer's own fields: a profile is for every recorder of a station.
constexpr std::array<std::string_view, 2> kOfficerKeys{"user-number", "user-name"};

std::string quoted(std::string_view text) {
  return "'" + std::string(text) + "'";
}

std::string key_list() {
  std::string names;
  for (std::string_view name : kKeyNames) {
    names += names.empty() ? "" : ", ";
    names += name;
  }
  return names;
}

// Why the field would not take the text as the profile's value; nullopt when it would.
std::optional<std::string> field_refusal(const IdentityButton& field, std::string_view text) {
  if (text.empty()) {
    return "an empty text is refused: " + std::string(field.empty);
  }
  if (std::ranges::any_of(
          text, [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; })) {
    return quoted(text) + " holds a control character";
  }
  const std::optional<std::size_t> size = link::gbk_size(text);
  if (!size) {
    return quoted(text) + " has a character GBK cannot encode";
  }
  if (*size > field.max_bytes) {
    return quoted(text) + " is " + std::to_string(*size) + " GBK bytes, the field holds at most " +
           std::to_string(field.max_bytes);
  }
  const bool number = field.field == link::IdentityField::unit_number;
  if (number && !letters_and_digits_only(text)) {
    return "the field refuses " + quoted(text) + ": " + std::string(msg::letters_and_digits_only);
  }
  return std::nullopt;
}

std::variant<ProfileEntry, std::string> entry_of(const Key& key, const toml::node& node) {
  const std::optional<std::string_view> text = node.value<std::string_view>();
  ProfileEntry entry;
  entry.key = key.name;
  if (const SettingButton* list = setting_button(key.button)) {
    if (!text) {
      return "takes a list item in quotes, such as " + std::string(key.name) + " = \"" +
             std::string(list->rows.front().text) + "\"";
    }
    if (auto refusal = item_refusal(*list, *text)) {
      return std::move(*refusal);
    }
    entry.list = list;
    entry.item = find_item(*list, *text);
    return entry;
  }
  entry.field = identity_button(key.button);
  if (!text) {
    return "takes a text in quotes";
  }
  if (auto refusal = field_refusal(*entry.field, *text)) {
    return std::move(*refusal);
  }
  entry.text = *text;
  return entry;
}

}  // namespace

std::span<const std::string_view> profile_keys() {
  return kKeyNames;
}

std::variant<Profile, ProfileError> parse_profile(std::string_view text) {
  toml::table table;
  try {
    table = toml::parse(text);
  } catch (const toml::parse_error& error) {
    return ProfileError{error.source().begin.line, "not TOML: " + std::string(error.description())};
  }

  Profile profile;
  std::optional<ProfileError> first_error;
  // The first problem in the file's order is the one reported.
  const auto fail = [&](const toml::source_region& where, std::string message) {
    if (!first_error || where.begin.line < first_error->line) {
      first_error = ProfileError{where.begin.line, std::move(message)};
    }
  };
  for (const auto& [name, node] : table) {
    const auto key = std::ranges::find(kKeys, name.str(), &Key::name);
    if (key == kKeys.end()) {
      const bool officer = std::ranges::find(kOfficerKeys, name.str()) != kOfficerKeys.end();
      fail(name.source(),
           officer ? std::string(name.str()) + " belongs to one officer and stays out of profiles"
                   : quoted(name.str()) + " is no key of a profile; the keys: " + key_list());
      continue;
    }
    auto entry = entry_of(*key, node);
    if (auto* refusal = std::get_if<std::string>(&entry)) {
      fail(node.source(), std::string(key->name) + ": " + *refusal);
      continue;
    }
    profile.entries.push_back(std::get<ProfileEntry>(std::move(entry)));
  }
  if (first_error) {
    return *first_error;
  }
  std::ranges::sort(profile.entries, {}, [](const ProfileEntry& entry) {
    return std::ranges::find(kKeyNames, entry.key) - kKeyNames.begin();
  });
  return profile;
}

}  // namespace kbc::console
