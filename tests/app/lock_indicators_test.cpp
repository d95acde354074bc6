#include "app/lock_indicators.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace kbc::app {
namespace {

TEST(LockIndicators, EachLockFromItsKeyboardsLeds) {
  QTemporaryDir root;
  const struct {
    const char* name;
    const char* brightness;
  } leds[] = {{"input3::capslock", "0\n"},
              {"input7::capslock", "1\n"},
              {"input3::numlock", "0\n"},
              {"input3::kana", "1\n"},
              {"input4::scrolllock", "x"}};
  for (const auto& led : leds) {
    ASSERT_TRUE(QDir(root.path()).mkpath(QLatin1String(led.name)));
    QFile file(root.filePath(QLatin1String(led.name) + QStringLiteral("/brightness")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(led.brightness);
  }
  const LockState state = read_lock_leds(root.path());
  EXPECT_EQ(state.caps, std::optional<bool>(true));  // any keyboard lit counts
  EXPECT_EQ(state.num, std::optional<bool>(false));
  EXPECT_EQ(state.scroll, std::nullopt);
  EXPECT_EQ(read_lock_leds(root.filePath(QStringLiteral("none"))).caps, std::nullopt);
}

}  // namespace
}  // namespace kbc::app
