#include <gtest/gtest.h>

#include "console_fixture.h"

namespace kbc::console::testing {
namespace {

// The buttons a feature flag gates; 1012 and 1016 have none.
constexpr int kGated[] = {1052, 1112, 1109, 1111, 1107, 1114, 1026,
                          1076, 1078, 1092, 1095, 1141, 1143, 1145};

using LayoutTest = ConsoleTest;

TEST_F(LayoutTest, ShowingTwiceFillsLimitsAndShowsOnce) {
  console.on_show();
  console.on_show();
  const std::map<int, std::vector<std::string>> lists = {
      {1060,
       {"2304X1296(30)", "1920X1080(60)", "1920X1080(30)", "1280X720(60)", "1280X720(30)",
        "848X480(30)"}},
      {1077, {"2688X1512", "5376X3024", "6016X3384", "7680X4320"}},
  };
  EXPECT_EQ(view.lists, lists);
  EXPECT_EQ(view.limits,
            (std::map<int, int>{{1009, 6}, {1113, 12}, {1110, 32}, {1108, 6}, {1105, 32}}));
  std::map<int, bool> shown;
  for (int id : {1060, 1026, 1075, 1076, 1077, 1078, 1096, 1095, 1140, 1141, 1142,
                 1143, 1113, 1112, 1110, 1111, 1108, 1109, 1105, 1107, 1114}) {
    shown[id] = true;
  }
  EXPECT_EQ(view.visible, shown);
  EXPECT_TRUE(bus.wire().empty());
}

struct EnableRow {
  std::string_view password;
  bool features, change_password;
};

TEST_F(LayoutTest, VerificationEnablesByRoleAndShowingLocksAgain) {
  const EnableRow rows[] = {{kAdmin, true, true}, {kNormal, false, true}, {kWrong, false, false}};
  for (const EnableRow& row : rows) {
    SCOPED_TRACE(std::string(row.password));
    press(idc::verify, kAdmin);
    console.on_show();
    press(idc::verify, row.password);
    for (int id : kGated) {
      EXPECT_EQ(console.is_enabled(id), row.features) << id;
    }
    EXPECT_EQ(console.is_enabled(idc::change_password), row.change_password);
    for (int id : {1012, 1016, 1009, 1060, 1148}) {
      EXPECT_TRUE(console.is_enabled(id)) << id;
    }
  }
}

TEST_F(LayoutTest, UnknownButtonDoesNothing) {
  EXPECT_FALSE(press(4242, kAdmin));
  EXPECT_TRUE(view.lines.empty());
  EXPECT_TRUE(bus.wire().empty());
}

}  // namespace
}  // namespace kbc::console::testing
