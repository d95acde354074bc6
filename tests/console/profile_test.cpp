// Station profiles as files: what a good one holds, and the line and reason of a bad one.
#include <gmock/gmock.h>

#include <string>
#include <variant>
#include <vector>

#include "console/profile.h"
#include "console/profile_file.h"
#include "station_profile.h"

namespace kbc::console::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

using KeyValues = std::vector<std::pair<std::string, std::string>>;

KeyValues entries(std::string_view text) {
  auto parsed = parse_profile(text);
  if (const auto* error = std::get_if<ProfileError>(&parsed)) {
    ADD_FAILURE() << "line " << error->problems.front().line << ": "
                  << error->problems.front().said.english;
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
  std::string_view says;     // kbcctl's
  std::string_view chinese;  // the window's
};

TEST(Profile, EachKindOfBadLineIsNamedWithItsLineInBothLanguages) {
  const BadRow rows[] = {
      // A key that is no profile's.
      {"video = \"848X480(30)\"\nvdeo = \"848X480(30)\"\n", 2, "'vdeo' is no key of a profile",
       "'vdeo' 不是配置文件的设置项，可用的设置项: video, segment"},
      {"[camera]\nvideo = \"848X480(30)\"\n", 1, "'camera' is no key of a profile",
       "'camera' 不是配置文件的设置项"},
      {"# a\n\nuser-name = \"张三\"\n", 3, "user-name belongs to one officer",
       "user-name 属于警员本人"},
      {"user-number = \"000001\"\n", 1, "user-number belongs to one officer",
       "user-number 属于警员本人"},
      // A value the command would refuse.
      {"video = \"1080p\"\n", 1, "video: '1080p' is no item of the list; one of: 2304X1296(30)",
       "video: '1080p' 不是列表中的选项，可选: 2304X1296(30)"},
      {"segment = \"10 分钟\"\n", 1, "segment: '10 分钟' is no item", "不是列表中的选项"},
      {"segment = \"never\"\n", 1, "one of: 5分钟 (5min), 10分钟 (10min)",
       "可选: 5分钟 (5min), 10分钟 (10min)"},
      {"video = \"1920x1080(30)\"\n", 1, "is no item", "不是列表中的选项"},  // only aliases bend
      {"\n\nsegment = 10\n", 3, "segment: takes a list item in quotes, such as segment = \"5分钟\"",
       "segment: 须为带引号的列表选项，如 segment = \"5分钟\""},
      {"[video]\nitem = \"848X480(30)\"\n", 1, "video: takes a list item in quotes",
       "须为带引号的列表选项"},
      {"motion = true\n", 1, "motion: takes a list item", "motion: 须为带引号的列表选项"},
      {"unit-name = 7\n", 1, "unit-name: takes a text in quotes", "unit-name: 须为带引号的文字"},
      {"unit-number = \"44-03\"\n", 1,
       "unit-number: the field refuses '44-03': 仅支持数字或大小写字母!",
       "unit-number: '44-03' 不可用: 仅支持数字或大小写字母!"},
      {"unit-number = \"4403000000001\"\n", 1,
       "unit-number: '4403000000001' is 13 GBK bytes, the field holds at most 12",
       "unit-number: '4403000000001' 为13字节(GBK)，该项最多12字节"},
      {"unit-name = \"深圳市公安局交通警察支队车管所A1B\"\n", 1, "is 33 GBK bytes", "为33字节"},
      {"unit-name = \"\"\n", 1, "unit-name: an empty text is refused: 单位名称设置为空!",
       "unit-name: 单位名称设置为空!"},
      {"unit-number = ''\n", 1, "单位编号设置为空!", "单位编号设置为空!"},
      {"unit-name = \"😀\"\n", 1, "has a character GBK cannot encode", "含有GBK无法表示的字符"},
      {"unit-name = \"A\\u001bB\"\n", 1, "holds a control character", "含有控制字符"},
      {"unit-name = \"A\\u0000B\"\n", 1, "holds a control character", "含有控制字符"},
      // A file that is no TOML.
      {"video = \"1920X1080(30)\nsegment = \"5分钟\"\n", 1, "not TOML", "不是有效的TOML格式"},
      {"segment = \"5分钟\"\nsegment = \"10分钟\"\n", 2, "not TOML", "不是有效的TOML格式"},
      {"video\n", 1, "not TOML", "不是有效的TOML格式"},
      {"ir = \"\xff\"\n", 1, "not TOML", "不是有效的TOML格式"},
      {"ir = \"auto\" motion = \"on\"\n", 1, "not TOML", "不是有效的TOML格式"},
  };
  for (const BadRow& row : rows) {
    SCOPED_TRACE(row.text);
    const auto parsed = parse_profile(row.text);
    ASSERT_TRUE(std::holds_alternative<ProfileError>(parsed));
    const std::vector<ProfileProblem>& problems = std::get<ProfileError>(parsed).problems;
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].line, row.line);
    EXPECT_THAT(problems[0].said.english, HasSubstr(std::string(row.says)));
    EXPECT_THAT(problems[0].said.chinese, HasSubstr(std::string(row.chinese)));
    EXPECT_THAT(problems[0].said.chinese, Not(HasSubstr("refuse")));
  }
}

TEST(Profile, EveryBadLineOfAFileIsNamedInTheFilesOrder) {
  const auto parsed = parse_profile(
      "zoom = \"2x\"\nvideo = \"848X480(30)\"\nsegment = \"1min\"\nunit-name = \"\"\n"
      "ir = \"auto\"\nbrightness = 3\n");
  ASSERT_TRUE(std::holds_alternative<ProfileError>(parsed));
  const ProfileError& error = std::get<ProfileError>(parsed);
  EXPECT_EQ(problem_lines(error, "s.toml", Language::english),
            (std::vector<std::string>{
                "s.toml:1: 'zoom' is no key of a profile; the keys: video, segment, photo, ir, "
                "screen-off, voice, brightness, motion, unit-number, unit-name",
                "s.toml:3: segment: '1min' is no item of the list; one of: 5分钟 (5min), 10分钟 "
                "(10min), 15分钟 (15min), 30分钟 (30min), 关闭 (off)",
                "s.toml:4: unit-name: an empty text is refused: 单位名称设置为空!",
                "s.toml:6: brightness: takes a list item in quotes, such as brightness = \"高\""}));
  const std::vector<std::string> chinese = problem_lines(error, "s.toml", Language::chinese);
  ASSERT_EQ(chinese.size(), 4u);
  EXPECT_THAT(chinese[1], ::testing::StartsWith("s.toml 第3行: segment: '1min' 不是列表中的选项"));
  EXPECT_EQ(chinese[2], "s.toml 第4行: unit-name: 单位名称设置为空!");
}

TEST(Profile, AFileThatCannotBeReadIsOneProblemOfTheFile) {
  const auto missing = read_profile("/nonexistent/station.toml");
  ASSERT_TRUE(std::holds_alternative<ProfileError>(missing));
  const ProfileError& error = std::get<ProfileError>(missing);
  EXPECT_EQ(problem_lines(error, "station.toml", Language::chinese),
            std::vector<std::string>{"station.toml: 文件不存在"});
  EXPECT_EQ(problem_lines(error, "station.toml", Language::english),
            std::vector<std::string>{"station.toml: No such file or directory"});
  const auto folder = read_profile("/");
  ASSERT_TRUE(std::holds_alternative<ProfileError>(folder));
  EXPECT_EQ(problem_lines(std::get<ProfileError>(folder), "/", Language::chinese),
            std::vector<std::string>{"/: 不是普通文件"});
}

}  // namespace
}  // namespace kbc::console::testing
