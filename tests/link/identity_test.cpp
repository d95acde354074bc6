#include "link/identity.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace kbc::link {
namespace {

std::string text(const IdentityRecord& r) {
  return {r.bytes().begin(), r.bytes().end()};
}

IdentityRecord record(std::string_view bytes) {
  std::array<std::uint8_t, kIdentitySize> raw{};
  std::copy_n(bytes.begin(), std::min(bytes.size(), raw.size()), raw.begin());
  return IdentityRecord::from_bytes(raw);
}

const std::string kSample = std::string("KBC0001") + "000123" + std::string(32, 'N') +
                            "440300000000" + "UNIT" + std::string(28, '=');

TEST(Identity, FieldsEndAtFillOrZeroAndNeverPassTheirWidth) {
  const IdentityRecord r = record(kSample);
  EXPECT_EQ(r.field(IdentityField::serial_number).bytes(), "KBC0001");
  EXPECT_EQ(r.field(IdentityField::user_number).bytes(), "000123");
  EXPECT_EQ(r.field(IdentityField::user_name).bytes(), std::string(32, 'N'));
  EXPECT_EQ(r.field(IdentityField::unit_number).bytes(), "440300000000");
  EXPECT_EQ(r.field(IdentityField::unit_name).bytes(), "UNIT");

  std::string with_zero = kSample;
  with_zero[9] = '\0';
  with_zero[14] = '=';
  EXPECT_EQ(record(with_zero).field(IdentityField::user_number).bytes(), "00");
  EXPECT_EQ(record(with_zero).field(IdentityField::user_name).bytes(), "N");
  EXPECT_TRUE(IdentityRecord().field(IdentityField::unit_name).empty());
}

TEST(Identity, ReplacingAFieldFillsItAndTurnsZerosIntoFill) {
  std::string with_zero = kSample;
  with_zero[50] = '\0';
  const IdentityRecord r =
      record(with_zero).with_field(IdentityField::user_number, GbkText::from_bytes("42"));
  std::string expected = kSample;
  expected.replace(7, 6, "42====");
  expected[50] = '=';
  EXPECT_EQ(text(r), expected);
}

TEST(Identity, AFullFieldHasNoFillAndALongerTextIsCut) {
  const GbkText name = GbkText::from_bytes(std::string(32, 'X'));
  EXPECT_EQ(text(record(kSample).with_field(IdentityField::unit_name, name)).substr(57),
            std::string(32, 'X'));
  const GbkText longer = GbkText::from_bytes(std::string(40, 'Y'));
  const std::string cut = text(record(kSample).with_field(IdentityField::user_number, longer));
  EXPECT_EQ(cut.substr(7, 6), "YYYYYY");
  EXPECT_EQ(cut.substr(13, 32), std::string(32, 'N'));
}

TEST(Identity, ReadsTheRecordFromReplyByteTwo) {
  std::vector<std::uint8_t> reply(128, 0);
  reply[0] = 84;
  reply[1] = 1;
  std::copy(kSample.begin(), kSample.end(), reply.begin() + 2);
  EXPECT_EQ(text(IdentityRecord::from_reply(reply)), kSample);
  const std::vector<std::uint8_t> short_reply(reply.begin(), reply.begin() + 5);
  EXPECT_EQ(text(IdentityRecord::from_reply(short_reply)), "KBC" + std::string(86, '='));
}

}  // namespace
}  // namespace kbc::link
