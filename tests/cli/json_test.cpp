#include <gtest/gtest.h>

#include "cli/json.h"
#include "link/gbk.h"

namespace kbc::cli {
namespace {

struct Escape {
  std::string_view text;
  std::string_view json;
};

void PrintTo(const Escape& row, std::ostream* os) {
  *os << ::testing::PrintToString(std::string(row.text));
}

const Escape kEscapes[] = {
    {"", R"("")"},
    {"KBC0001", R"("KBC0001")"},
    {"张三", "\"张三\""},
    {R"(a"b)", R"("a\"b")"},
    {R"(a\b)", R"("a\\b")"},
    {"/", R"("/")"},
    {"\b\f\n\r\t", R"("\b\f\n\r\t")"},
    {std::string_view("\x00\x01\x1f", 3), R"("\u0000\u0001\u001f")"},
    {"\x7f", "\"\x7f\""},
    {"\xEF\xBF\xBD", "\"\xEF\xBF\xBD\""},  // U+FFFD stays as it is
    {"\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\""},
    // Not UTF-8: one U+FFFD per byte that starts no valid sequence.
    {"a\xff", "\"a\xEF\xBF\xBD\""},
    {"\xE5\xBC", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
    {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
    {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
    {"\xF4\x90\x80\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
};

class JsonStringTest : public ::testing::TestWithParam<Escape> {};

TEST_P(JsonStringTest, Escapes) {
  EXPECT_EQ(json_string(GetParam().text), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(Texts, JsonStringTest, ::testing::ValuesIn(kEscapes));

TEST(IdentityJson, HasTheFiveFieldsInOrderEachUpToItsFill) {
  using link::IdentityField;
  const auto record =
      link::IdentityRecord()
          .with_field(IdentityField::serial_number, link::GbkText::from_bytes("SN1"))
          .with_field(IdentityField::user_name, link::GbkText::from_bytes("a\"b\\\x01\xff"))
          .with_field(IdentityField::unit_name, link::GbkText::from_bytes("x=y"));
  EXPECT_EQ(identity_json(record),
            R"({"serial_number":"SN1","user_number":"","user_name":"a\"b\\\u0001)"
            "\xEF\xBF\xBD"
            R"(","unit_number":"","unit_name":"x"})");
}

}  // namespace
}  // namespace kbc::cli
