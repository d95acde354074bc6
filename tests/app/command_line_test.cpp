// The window's command line: --simulate=N, which Qt's parser cannot take as it stands.
#include <gtest/gtest.h>

#include "app/heron_ftp_app.h"

namespace kbc::app {
namespace {

TEST(CommandLine, SimulateTakesACountOfRecordersAndLeavesAnOptionQtKnows) {
  const struct {
    QStringList given;
    std::optional<int> count;
    QStringList left;
  } rows[] = {
      {{"kbc-q7"}, 1, {"kbc-q7"}},
      {{"kbc-q7", "--simulate"}, 1, {"kbc-q7", "--simulate"}},
      {{"kbc-q7", "--simulate=3"}, 3, {"kbc-q7", "--simulate"}},
      {{"kbc-q7", "--simulate=064"}, 64, {"kbc-q7", "--simulate"}},
      {{"kbc-q7", "--simulate=2", "--simulate=5"}, 5, {"kbc-q7", "--simulate", "--simulate"}},
      // After "--" an argument is no option.
      {{"kbc-q7", "--", "--simulate=9"}, 1, {"kbc-q7", "--", "--simulate=9"}},
      {{"kbc-q7", "--simulate=0"}, std::nullopt, {}},
      {{"kbc-q7", "--simulate=65"}, std::nullopt, {}},
      {{"kbc-q7", "--simulate="}, std::nullopt, {}},
      {{"kbc-q7", "--simulate=+2"}, std::nullopt, {}},
      {{"kbc-q7", "--simulate= 2"}, std::nullopt, {}},
      {{"kbc-q7", "--simulate=2x"}, std::nullopt, {}},
      {{"kbc-q7", "--simulate=99999999999"}, std::nullopt, {}},
  };
  for (const auto& row : rows) {
    const std::string given = row.given.join(u' ').toStdString();
    QStringList arguments = row.given;
    EXPECT_EQ(take_simulated_count(arguments), row.count) << given;
    if (row.count) {
      EXPECT_EQ(arguments, row.left) << given;
    }
  }
}

}  // namespace
}  // namespace kbc::app
