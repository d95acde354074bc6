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
  std::string out(1, '\'');
  out.append(text).append("'");
  return out;
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
std::optional<Wording> field_refusal(const IdentityButton& field, std::string_view text) {
  if (text.empty()) {
    return Wording{"an empty text is refused: " + std::string(field.empty),
                   std::string(field.empty)};
  }
  if (std::ranges::any_of(
          text, [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; })) {
    return Wording{quoted(text) + " holds a control character", quoted(text) + " 含有控制字符"};
  }
  const std::optional<std::size_t> size = link::gbk_size(text);
  if (!size) {
    return Wording{quoted(text) + " has a character GBK cannot encode",
                   quoted(text) + " 含有GBK无法表示的字符"};
  }
  if (*size > field.max_bytes) {
    const std::string bytes = std::to_string(*size);
    const std::string most = std::to_string(field.max_bytes);
    return Wording{quoted(text) + " is " + bytes + " GBK bytes, the field holds at most " + most,
                   quoted(text) + " 为" + bytes + "字节(GBK)，该项最多" + most + "字节"};
  }
  const bool number = field.field == link::IdentityField::unit_number;
  if (number && !letters_and_digits_only(text)) {
    const std::string why(msg::letters_and_digits_only);
    return Wording{"the field refuses " + quoted(text) + ": " + why,
                   quoted(text) + " 不可用: " + why};
  }
  return std::nullopt;
}

std::variant<ProfileEntry, Wording> entry_of(const Key& key, const toml::node& node) {
  const std::optional<std::string_view> text = node.value<std::string_view>();
  ProfileEntry entry;
  entry.key = key.name;
  if (const SettingButton* list = setting_button(key.button)) {
    if (!text) {
      const std::string example =
          std::string(key.name) + " = \"" + std::string(list->rows.front().text) + "\"";
      return Wording{"takes a list item in quotes, such as " + example,
                     "须为带引号的列表选项，如 " + example};
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
    return Wording{"takes a text in quotes", "须为带引号的文字"};
  }
  if (auto refusal = field_refusal(*entry.field, *text)) {
    return std::move(*refusal);
  }
  entry.text = *text;
  return entry;
}

Wording key_refusal(std::string_view name) {
  if (std::ranges::find(kOfficerKeys, name) != kOfficerKeys.end()) {
    const std::string key(name);
    return {key + " belongs to one officer and stays out of profiles",
            key + " 属于警员本人，不写入配置文件"};
  }
  return {quoted(name) + " is no key of a profile; the keys: " + key_list(),
          quoted(name) + " 不是配置文件的设置项，可用的设置项: " + key_list()};
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
    // The reader stops at its first problem; what it says of it is in English only.
    return ProfileError{{{error.source().begin.line,
                          {"not TOML: " + std::string(error.description()),
                           "不是有效的TOML格式，请检查此行的引号、等号和设置项"}}}};
  }

  Profile profile;
  ProfileError error;
  for (const auto& [name, node] : table) {
    const auto key = std::ranges::find(kKeys, name.str(), &Key::name);
    if (key == kKeys.end()) {
      error.problems.push_back({name.source().begin.line, key_refusal(name.str())});
      continue;
    }
    auto entry = entry_of(*key, node);
    if (auto* refusal = std::get_if<Wording>(&entry)) {
      error.problems.push_back(
          {node.source().begin.line, prefixed(std::string(key->name) + ": ", *refusal)});
      continue;
    }
    profile.entries.push_back(std::get<ProfileEntry>(std::move(entry)));
  }
  // The table holds its keys sorted by name; the operator reads the file from the top.
  if (!error.problems.empty()) {
    std::ranges::stable_sort(error.problems, {}, &ProfileProblem::line);
    return error;
  }
  std::ranges::sort(profile.entries, {}, [](const ProfileEntry& entry) {
    return std::ranges::find(kKeyNames, entry.key) - kKeyNames.begin();
  });
  return profile;
}

}  // namespace kbc::console
