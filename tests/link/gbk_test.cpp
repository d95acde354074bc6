#include "link/gbk.h"

#include <gtest/gtest.h>

namespace kbc::link {
namespace {

TEST(Gbk, EncodesChineseAsTwoBytesEach) {
  const auto text = GbkText::from_utf8("密码");
  ASSERT_TRUE(text);
  EXPECT_EQ(text->bytes(), "\xC3\xDC\xC2\xEB");
  EXPECT_EQ(gbk_size("张三ab1"), 7u);
  EXPECT_EQ(gbk_size(""), 0u);
}

TEST(Gbk, RefusesWhatItCannotEncode) {
  EXPECT_FALSE(GbkText::from_utf8("\xF0\x9F\x98\x80"));  // an emoji
  EXPECT_FALSE(GbkText::from_utf8("ab\xE0\xB8\x81"));    // Thai
  EXPECT_FALSE(GbkText::from_utf8("\xC3"));              // cut UTF-8
  EXPECT_FALSE(gbk_size("\xFF"));
}

// iconv drops these without an error; each would reach the recorder as a shorter text.
struct Vanishing {
  std::string_view name;
  std::string_view utf8;
};

void PrintTo(const Vanishing& row, std::ostream* os) {
  *os << row.name;
}

const Vanishing kVanishing[] = {
    {"TagInsideAPassword",
     "888\xf3\xa0\x81\xa0"
     "888"},                                                     // U+E0060
    {"FirstTag", "\xf3\xa0\x80\x80"},                            // U+E0000
    {"LastTag", "ab\xf3\xa0\x81\xbf"},                           // U+E007F
    {"TagInAName", "\xe5\xbc\xa0\xf3\xa0\x80\x81\xe4\xb8\x89"},  // 张, U+E0001, 三
};

class VanishingTest : public ::testing::TestWithParam<Vanishing> {};

TEST_P(VanishingTest, IsRefusedAsUnencodable) {
  EXPECT_FALSE(GbkText::from_utf8(GetParam().utf8));
  EXPECT_FALSE(gbk_size(GetParam().utf8));
}

INSTANTIATE_TEST_SUITE_P(Characters, VanishingTest, ::testing::ValuesIn(kVanishing),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Gbk, DecodesAndReplacesInvalidBytes) {
  EXPECT_EQ(GbkText::from_bytes(std::string_view("\xD5\xC5\xC8\xFD")).to_utf8(), "张三");
  EXPECT_EQ(GbkText::from_bytes(std::string_view("A\xFF"
                                                 "B"))
                .to_utf8(),
            "A\xEF\xBF\xBD"
            "B");
  EXPECT_EQ(GbkText::from_bytes(std::string_view("A\xD5")).to_utf8(), "A\xEF\xBF\xBD")
      << "a lead byte cut off at the end";
  const std::string every_byte = [] {
    std::string s;
    for (int b = 1; b < 256; ++b) {
      s.push_back(static_cast<char>(b));
    }
    return s;
  }();
  EXPECT_FALSE(GbkText::from_bytes(every_byte).to_utf8().empty());
}

TEST(Gbk, RoundTrips) {
  for (std::string_view s : {"深圳市公安局", "ABC123", "执法记录仪管理软件(KBC-Q7)"}) {
    EXPECT_EQ(GbkText::from_utf8(s)->to_utf8(), s);
  }
}

}  // namespace
}  // namespace kbc::link
