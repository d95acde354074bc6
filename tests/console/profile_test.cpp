// Station profiles as files: what a good one holds, and the line and reason of a bad one.
#include <gmock/gmock.h>

#include <string>
#include <variant>
#include <vector>

#include "console/profile.h"
#include "station_profile.h"

namespace kbc::console::testing {
namespace {

using ::testing::HasSubstr;

using KeyValues = std::vector<std::pair<std::string, std::string>>;

KeyValues entries(std::string_view text) {
  auto parsed = parse_profile(text);
  if (const auto* error = std::get_if<ProfileError>(&parsed)) {
    ADD_FAILURE() << "line " << error->line << ": " << error->message;
    return {};
  }
  KeyValues result;
  for (const ProfileEntry& entry : std::get<Profile>(parsed).entries) {
    result.emplace_back(entry.key, entry.value());
  }
  return result;
}

TEST(Profile, TheStationExampleIsTakenInTheSettingsBarsOrder) {
  EXPECT_EQ(entries(kbc::testing::kStationProfile), (KeyValues{{"video", "1920X1080(30)"},
                                                               {"segment", "10分钟"},
                                                               {"photo", "2688X1512"},
                                                               {"ir", "自动"},
                                                               {"screen-off", "1分钟"},
                                                               {"voice", "打开"},
                                                               {"brightness", "中"},
                                                               {"motion", "关闭"},
                                                               {"unit-number", "A7"},
                                                               {"unit-name", "龙华分局"}}));
}

TEST(Profile, GoodFiles) {
  const std::pair<std::string_view, KeyValues> rows[] = {
      {"", {}},
      {"# nothing but a comment\n\n", {}},
      // Aliases stand for their items, in any case.
      {"motion = 'OFF'\nscreen-off = \"never\"\nsegment = \"10min\"\nir = \"Manual\"\n",
       {{"segment", "10分钟"}, {"ir", "手动"}, {"screen-off", "关闭"}, {"motion", "关闭"}}},
      {"voice = \"on\"\nbrightness = \"low\"\n", {{"voice", "打开"}, {"brightness", "低"}}},
      // A byte-order mark, CRLF line ends, a literal string, a unit name of exactly 32 bytes.
      {"\xEF\xBB\xBFunit-number = 'A1b2'\r\nunit-name = \"深圳市公安局交通警察支队车管所A1\"\r\n",
       {{"unit-number", "A1b2"}, {"unit-name", "深圳市公安局交通警察支队车管所A1"}}},
      {"\"unit-name\" = \"警\\u961f\"", {{"unit-name", "警队"}}},
  };
  for (const auto& [text, want] : rows) {
    SCOPED_TRACE(text);
    EXPECT_EQ(entries(text), want);
  }
}

struct BadRow {
  std::string_view text;
  std::size_t line;
  std::string_view says;
};

TEST(Profile, EachKindOfBadLineIsNamedWithItsLine) {
  const BadRow rows[] = {
      // A key that is no profile's.
      {"video = \"848X480(30)\"\nvdeo = \"848X480(30)\"\n", 2, "'vdeo' is no key of a profile"},
      {"[camera]\nvideo = \"848X480(30)\"\n", 1, "'camera' is no key of a profile"},
      {"# a\n\nuser-name = \"张三\"\n", 3, "user-name belongs to one officer"},
      {"user-number = \"000001\"\n", 1, "user-number belongs to one officer"},
      // A value the command would refuse.
      {"video = \"1080p\"\n", 1, "video: '1080p' is no item of the list; one of: 2304X1296(30)"},
      {"segment = \"10 分钟\"\n", 1, "segment: '10 分钟' is no item"},
      {"segment = \"never\"\n", 1, "one of: 5分钟 (5min), 10分钟 (10min)"},
      {"video = \"1920x1080(30)\"\n", 1, "is no item"},  // items are exact; only aliases bend
      {"\n\nsegment = 10\n", 3,
       "segment: takes a list item in quotes, such as segment = \"5分钟\""},
      {"[video]\nitem = \"848X480(30)\"\n", 1, "video: takes a list item in quotes"},
      {"motion = true\n", 1, "motion: takes a list item"},
      {"unit-name = 7\n", 1, "unit-name: takes a text in quotes"},
      {"unit-number = \"44-03\"\n", 1,
       "unit-number: the field refuses '44-03': 仅支持数字或大小写字母!"},
      {"unit-number = \"4403000000001\"\n", 1,
       "unit-number: '4403000000001' is 13 GBK bytes, the field holds at most 12"},
      {"unit-name = \"深圳市公安局交通警察支队车管所A1B\"\n", 1, "is 33 GBK bytes"},
      {"unit-name = \"\"\n", 1, "unit-name: an empty text is refused: 单位名称设置为空!"},
      {"unit-number = ''\n", 1, "单位编号设置为空!"},
      {"unit-name = \"😀\"\n", 1, "has a character GBK cannot encode"},
      {"unit-name = \"A\\u001bB\"\n", 1, "holds a control character"},
      {"unit-name = \"A\\u0000B\"\n", 1, "holds a control character"},
      // A file that is no TOML.
      {"video = \"1920X1080(30)\nsegment = \"5分钟\"\n", 1, "not TOML"},
      {"segment = \"5分钟\"\nsegment = \"10分钟\"\n", 2, "not TOML"},
      {"video\n", 1, "not TOML"},
      {"ir = \"\xff\"\n", 1, "not TOML"},
      {"ir = \"auto\" motion = \"on\"\n", 1, "not TOML"},
      // The first bad line of several.
      {"video = \"848X480(30)\"\nsegment = \"1min\"\nunit-name = \"\"\nzoom = \"2x\"\n", 2,
       "segment:"},
  };
  for (const BadRow& row : rows) {
    SCOPED_TRACE(row.text);
    const auto parsed = parse_profile(row.text);
    ASSERT_TRUE(std::holds_alternative<ProfileError>(parsed));
    const ProfileError& error = std::get<ProfileError>(parsed);
    EXPECT_EQ(error.line, row.line);
    EXPECT_THAT(error.message, HasSubstr(std::string(row.says)));
  }
}

}  // namespace
}  // namespace kbc::console::testing
