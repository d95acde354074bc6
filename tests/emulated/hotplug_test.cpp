// Recorders plugged in and pulled out of the emulated bus while a program runs: the program's
// libudev monitor hears of each, and its libusb 0.1 scans agree.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "command_wire.h"
#include "emulated_run.h"

namespace kbc::emulated {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

const std::string kUdevProbe = KBC_UDEV_PROBE;
const std::string kKbcctl = KBC_KBCCTL;

class Hotplug : public BusTest {
 protected:
  BusRun run(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--control", fifo_});
    return run_recorded(arguments);
  }

  std::string fifo_ = scratch_.file("control");
};

TEST_F(Hotplug, AMonitorInTheProgramHearsEachRecorderComeAndGo) {
  const BusRun r =
      run({"--bus", "mouse,recorder=KBC0001", "--", kUdevProbe, fifo_, "add recorder=KBC0002",
           "remove 001/003", "add mouse", "add recorder", "--then", kKbcctl, "list"});
  ASSERT_EQ(r.status, 0) << r.output << r.errors;
  const std::vector<std::string> printed = lines(r.output);
  ASSERT_EQ(printed.size(), 10u) << r.output;
  EXPECT_THAT(std::vector(printed.begin(), printed.begin() + 8),
              ElementsAre("add 001/004 4255", "recorders: 001/003 001/004",  //
                          "remove 001/003 4255", "recorders: 001/004",       //
                          "add 001/005 046d", "recorders: 001/004",          //
                          // Numbered by its place among the recorders ever plugged in.
                          "add 001/006 4255", "recorders: 001/004 001/006"));
  // The next program finds the bus as the last one left it, in the order libusb walks it.
  EXPECT_THAT(std::vector(printed.begin() + 8, printed.end()),
              UnorderedElementsAre("001/004\tKBC0002", "001/006\tKBC0003"));
  EXPECT_THAT(wire().uevents, ElementsAre(UeventLine{0, "001/004", 0x4255, "add"},
                                          UeventLine{0, "001/003", 0x4255, "remove"},
                                          UeventLine{0, "001/005", 0x046d, "add"},
                                          UeventLine{0, "001/006", 0x4255, "add"}));
}

TEST_F(Hotplug, WhatAProgramWroteTakesEffectBeforeTheNextOneStarts) {
  const BusRun r = run({"--bus", "recorder=A,mouse,recorder=B", "--", "sh", "-c",
                        "echo remove 001/004 > \"$0\"", fifo_, "--then", kKbcctl, "list"});
  ASSERT_EQ(r.status, 0) << r.output << r.errors;
  EXPECT_THAT(lines(r.output), ElementsAre("001/002\tA"));
}

TEST_F(Hotplug, ACommandTheBusDoesNotKnowIsSaidAndChangesNothing) {
  const BusRun r = run({"--", "sh", "-c",
                        "printf 'add keyboard\\nremove 001/001\\nremove 001/009\\nfly\\n' > \"$0\"",
                        fifo_, "--then", kKbcctl, "list"});
  ASSERT_EQ(r.status, 0) << r.output << r.errors;
  EXPECT_THAT(r.errors, HasSubstr("cannot add 'keyboard'"));
  EXPECT_THAT(r.errors, HasSubstr("nothing to remove at 001/001"));
  EXPECT_THAT(r.errors, HasSubstr("nothing to remove at 001/009"));
  EXPECT_THAT(r.errors, HasSubstr("unknown command 'fly'"));
  EXPECT_THAT(lines(r.output), ElementsAre("001/003\tKBC0001"));
  EXPECT_TRUE(wire().uevents.empty());
}

}  // namespace
}  // namespace kbc::emulated
