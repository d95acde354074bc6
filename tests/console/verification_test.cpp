#include <gtest/gtest.h>

#include <algorithm>

#include "console/messages.h"
#include "console_fixture.h"

namespace kbc::console::testing {
namespace {

constexpr std::string_view kTimeLine = "成功设置系统时间:2024-3-5 7:8:9";

class VerificationTest : public ConsoleTest {
 protected:
  bool flags_are(std::uint8_t value) const {
    return std::ranges::all_of(console.m_bFeatureEnabled, [&](auto f) { return f == value; });
  }
};

struct DecisionRow {
  std::string_view earlier;  // verified with this first, when not empty
  std::string_view password;
  bool success;
  std::uint8_t flags, verified;
};

TEST_F(VerificationTest, DecidesTheFlagsFromBothChecks) {
  const DecisionRow rows[] = {
      {"", kAdmin, true, 1, 1},      {"", kNormal, true, 0, 1},     {"", kWrong, false, 0, 0},
      {kAdmin, kNormal, true, 0, 1}, {kAdmin, kWrong, false, 1, 1}, {kNormal, kWrong, false, 0, 1},
  };
  for (const DecisionRow& row : rows) {
    SCOPED_TRACE(std::string(row.earlier) + " then " + std::string(row.password));
    console.on_show();
    if (!row.earlier.empty()) {
      ASSERT_TRUE(press(idc::verify, row.earlier));
    }
    EXPECT_EQ(press(idc::verify, row.password), row.success);
    EXPECT_EQ(recorder.letters(), row.success ? "-3E6" : "-3E");
    EXPECT_EQ(view.lines, Lines{std::string(row.success ? kTimeLine : msg::wrong_password)});
    EXPECT_TRUE(flags_are(row.flags));
    EXPECT_EQ(console.m_bPasswordVerified, row.verified);
  }
}

TEST_F(VerificationTest, BothPasswordsEqualEnableEverything) {
  recorder.state().normal_password = kAdmin;
  EXPECT_TRUE(press(idc::verify, kAdmin));
  EXPECT_TRUE(flags_are(1));
}

struct ClockRow {
  link::LocalTime time;
  std::string_view wire_text, report;
};

TEST_F(VerificationTest, SendsTheClockAndReportsItUnpadded) {
  const ClockRow rows[] = {
      {{2024, 3, 5, 7, 8, 9}, "20240305070809\n", kTimeLine},
      {{2023, 12, 31, 23, 59, 58}, "20231231235958\n", "成功设置系统时间:2023-12-31 23:59:58"},
  };
  for (const ClockRow& row : rows) {
    clock.time = row.time;
    ASSERT_TRUE(press(idc::verify, kNormal));
    std::vector<std::uint8_t> expected(18, 0);
    expected[0] = '6';
    std::ranges::copy(row.wire_text, expected.begin() + 1);
    EXPECT_EQ(recorder.payloads().at(3), expected);
    EXPECT_EQ(view.lines, Lines{std::string(row.report)});
  }
}

TEST_F(VerificationTest, FailedClockReportsReconnectWithTheFlagsSet) {
  recorder.inject({.kind = sim::Fault::Kind::outcome, .letter = '6', .value = 0});
  EXPECT_FALSE(press(idc::verify, kAdmin));
  EXPECT_EQ(view.lines, Lines{std::string(msg::reconnect)});
  EXPECT_TRUE(flags_are(1));
  EXPECT_EQ(console.m_bPasswordVerified, 1);
}

}  // namespace
}  // namespace kbc::console::testing
