#include "console/printable.h"

#include <gtest/gtest.h>

#include "console/utf8.h"

namespace kbc::console {
namespace {

struct Shown {
  std::string_view name;
  std::string_view text;
  std::string_view shown;
};

void PrintTo(const Shown& row, std::ostream* os) {
  *os << row.name;
}

const Shown kShown[] = {
    {"PlainText", "张三 KBC0001 (x)", "张三 KBC0001 (x)"},
    {"LineFeedStartsNoLine", "X\n设备序列号:FAKE99", "X\\x0a设备序列号:FAKE99"},
    {"CarriageReturn", "ok\rFAKE", "ok\\x0dFAKE"},
    {"TitleSequence", "\x1b]0;pwned\x07", "\\x1b]0;pwned\\x07"},
    {"CsiSequence", "\x1b[2J\x1b[8m", "\\x1b[2J\\x1b[8m"},
    {"EveryC0", std::string_view("\x00\x01\x09\x1f", 4), "\\x00\\x01\\x09\\x1f"},
    {"Delete", "a\x7f", "a\\x7f"},
    {"C1Csi",
     "\xc2\x9b"
     "2J",
     "\\u009b2J"},
    {"NextLine", "a\xc2\x85z", "a\\u0085z"},
    {"LineSeparator", "a\xe2\x80\xa8z", "a\\u2028z"},
    {"ParagraphSeparator", "a\xe2\x80\xa9z", "a\\u2029z"},
    {"RightToLeftOverride",
     "\xe2\x80\xae"
     "99EKAF",
     "\\u202e99EKAF"},
    {"Isolate", "\xe2\x81\xa6x\xe2\x81\xa9", "\\u2066x\\u2069"},
    {"Backslash", "a\\x1b", "a\\\\x1b"},
    {"NotUtf8", "a\xff\xc3", "a\\xff\\xc3"},
    {"Replacement", "\xef\xbf\xbd", "\xef\xbf\xbd"},
};

class PrintableTest : public ::testing::TestWithParam<Shown> {};

TEST_P(PrintableTest, EscapesWhatIsNoPlainText) {
  const std::string shown = printable(GetParam().text);
  EXPECT_EQ(shown, GetParam().shown);
  // Whatever came in, what goes out is one line of valid UTF-8 without a control character.
  EXPECT_TRUE(is_valid_utf8(shown));
  for (const char c : shown) {
    EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7f) << shown;
  }
}

INSTANTIATE_TEST_SUITE_P(Texts, PrintableTest, ::testing::ValuesIn(kShown),
                         [](const auto& info) { return std::string(info.param.name); });

struct Decoded {
  std::string_view text;
  char32_t code;
  std::size_t length;
};

const Decoded kDecoded[] = {
    {"A", U'A', 1},
    {"\xc2\x85", 0x85, 2},
    {"张", U'张', 3},
    {"\xf0\x9f\x98\x80", 0x1F600, 4},
    {"\xc0\xaf", 0, 0},          // overlong
    {"\xed\xa0\x80", 0, 0},      // a surrogate
    {"\xf4\x90\x80\x80", 0, 0},  // past U+10FFFF
    {"\xe5\xbc", 0, 0},          // cut short
    {"\x80", 0, 0},
};

TEST(Utf8, ReadsOneCharacterStrictly) {
  for (const Decoded& row : kDecoded) {
    const Utf8Char c = first_utf8_char(row.text);
    EXPECT_EQ(c.length, row.length) << row.text;
    EXPECT_EQ(c.code, row.code) << row.text;
  }
}

}  // namespace
}  // namespace kbc::console
