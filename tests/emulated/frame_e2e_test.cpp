// The main window itself, headless, through the real libusb 0.1 against the recorder on the
// emulated bus: one click on "验证密码" per window, what the pane and the buttons show afterwards
// and the bytes that reach the recorder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "command_wire.h"
#include "emulated_run.h"

namespace kbc::emulated {
namespace {

using ::testing::ElementsAreArray;

const std::string kFrameClick = KBC_FRAME_CLICK;

// The buttons of the settings bar in template order; 1012 and 1016 have no flag.
const std::string kAllButtons =
    " 1012 1019 1052 1016 1026 1076 1078 1141 1095 1143 1092 1145 1112 1111 1114 1109 1107";

struct Click {
  std::string password;
  std::string pane;
  std::string enabled;
  std::string disabled;
  std::vector<std::string> sent;  // the command payloads in order, without their zero fill
};

TEST(FrameOnBus, AVerificationClickEnablesWhatThePasswordAllowsAndSetsTheClock) {
  const std::vector<Click> clicks = {
      {"888888", kClockReport, kAllButtons, "", {"-888888", "3888888", "E888888", kSetTime}},
      {"000000",
       kClockReport,
       " 1012 1019 1016",
       " 1052 1026 1076 1078 1141 1095 1143 1092 1145 1112 1111 1114 1109 1107",
       {"-000000", "3000000", "E000000", kSetTime}},
      {"123456",
       "密码错误!",
       " 1012 1016",
       " 1019 1052 1026 1076 1078 1141 1095 1143 1092 1145 1112 1111 1114 1109 1107",
       {"-123456", "3123456", "E123456"}},
  };
  const ScratchDir scratch;
  const std::string wire_path = scratch.file("wire.txt");
  std::vector<std::string> options{"--wire", wire_path, "--"};
  for (const Click& click : clicks) {
    if (options.back() != "--") {
      options.push_back("--then");
    }
    options.insert(options.end(), {kFrameClick, click.password});
  }
  const std::string before = local_digits();
  const BusRun run = run_on_bus(options);
  const std::string after = local_digits();
  ASSERT_TRUE(run.started) << run.errors;
  const auto wire = read_wire(wire_path);
  ASSERT_TRUE(wire) << "the wire file does not parse";
  expect_transfers_as_the_link_sends_them(*wire);

  std::vector<std::string> shown, exited;
  for (std::size_t i = 0; i < clicks.size(); ++i) {
    SCOPED_TRACE("window " + std::to_string(i));
    const Click& click = clicks[i];
    const int step = static_cast<int>(i);
    exited.push_back(format(ExitLine{step, 0}));
    const std::vector<std::string> sent = payloads(*wire, step);
    ASSERT_EQ(sent.size(), click.sent.size()) << run.output << run.errors;
    std::string time;
    for (std::size_t k = 0; k < sent.size(); ++k) {
      if (click.sent[k] == kSetTime) {
        time = sent_time(sent[k], before, after);
      } else {
        EXPECT_EQ(sent[k], padded(click.sent[k])) << "payload " << k;
      }
    }
    shown.push_back("pane: " + (click.pane == kClockReport ? clock_report(time) : click.pane));
    shown.push_back("enabled:" + click.enabled);
    shown.push_back("disabled:" + click.disabled);
  }
  EXPECT_THAT(lines(run.output), ElementsAreArray(shown)) << run.errors;
  EXPECT_THAT(exits(*wire), ElementsAreArray(exited));
}

}  // namespace
}  // namespace kbc::emulated
