// The link through the real libusb 0.1 against the recorder on the emulated bus.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "command_wire.h"
#include "emulated_run.h"
#include "wire.h"

namespace kbc::emulated {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// The probe's own lines, without the link's trace.
std::vector<std::string> results(const BusRun& run) {
  std::vector<std::string> result;
  for (const std::string& line : lines(run.output)) {
    if (line.rfind("trace: ", 0) != 0) {
      result.push_back(line);
    }
  }
  return result;
}

std::vector<std::uint8_t> payload(std::string_view text) {
  std::vector<std::uint8_t> bytes(18, 0);
  std::copy(text.begin(), text.end(), bytes.begin());
  return bytes;
}

class EmulatedLink : public BusTest {
 protected:
  BusRun run(std::vector<std::string> options, const std::vector<std::string>& programs) {
    options.push_back("--");
    options.insert(options.end(), programs.begin(), programs.end());
    return run_recorded(options);
  }
};

const std::string kProbe = KBC_LINK_PROBE;

TEST_F(EmulatedLink, CommandsGetTheFirmwaresStatusesThroughLibusb) {
  const BusRun r = run({}, {kProbe, "check_admin_psw=888888", "check_admin_psw=123456",
                            "get_device_info", "set_motion_on"});
  ASSERT_EQ(r.status, 0) << r.output << r.errors;
  EXPECT_THAT(results(r), ElementsAre("session ready", "check_admin_psw 246", "check_admin_psw 247",
                                      "get_device_info 255 serial=KBC0001", "set_motion_on 248"));
}

TEST_F(EmulatedLink, EveryTransferHasTheCommandSetupTimeoutAndLengths) {
  const BusRun r = run({}, {kProbe, "check_admin_psw=888888", "check_admin_psw=123456",
                            "get_device_info", "set_motion_on"});
  ASSERT_EQ(r.status, 0) << r.output << r.errors;
  const Wire w = wire();
  ASSERT_EQ(w.controls.size(), 8u);
  const std::vector<std::uint16_t> reply_lengths{12, 12, 128, 12};
  const std::vector<std::uint8_t> reply_codes{79, 79, 84, 81};
  // Only the recorder was ever sent a control transfer, each with the command setup.
  expect_transfers_as_the_link_sends_them(w);
  for (std::size_t i = 0; i < w.controls.size(); ++i) {
    const ControlLine& c = w.controls[i];
    SCOPED_TRACE(format(c));
    if (i % 2 == 0) {
      EXPECT_EQ(c.type, 0x40);
      EXPECT_EQ(c.length, 18);
      EXPECT_EQ(c.result, 18);
      EXPECT_EQ(c.data.size(), 18u);
    } else {
      EXPECT_EQ(c.type, 0xc0);
      EXPECT_EQ(c.length, reply_lengths[i / 2]);
      EXPECT_EQ(c.result, reply_lengths[i / 2]);
      ASSERT_EQ(c.data.size(), reply_lengths[i / 2]);
      EXPECT_EQ(c.data[0], reply_codes[i / 2]);
    }
  }
  EXPECT_EQ(w.controls[0].data, payload("3888888"));
  EXPECT_EQ(w.controls[2].data, payload("3123456"));
  EXPECT_EQ(w.controls[4].data, payload("}"));
  EXPECT_EQ(w.controls[6].data, payload("0"));
  EXPECT_THAT(w.exits, ElementsAre(ExitLine{0, 0}));
}

TEST_F(EmulatedLink, TheSessionPreparesOnlyTheRecorder) {
  const BusRun r = run({}, {kProbe});
  ASSERT_EQ(r.status, 0) << r.output << r.errors;
  std::vector<std::string> recorder;
  for (const IoctlLine& i : wire().ioctls) {
    // Enumeration asks every device for its number and hub ports; nothing else reaches the others.
    if (i.name == "connectinfo" || i.name == "ioctl/hub_portinfo") {
      continue;
    }
    EXPECT_EQ(i.node, "001/003") << format(i);
    EXPECT_EQ(i.result, 0) << format(i);
    recorder.push_back(i.name + " " + std::to_string(i.arg.value_or(-1)));
  }
  EXPECT_THAT(recorder, ElementsAre("setconfiguration 1", "claiminterface 0", "clear_halt 1",
                                    "clear_halt 129"));
}

TEST_F(EmulatedLink, WithoutTheRecorderNoDeviceIsFoundAndNothingIsSent) {
  const BusRun r = run({"--bus", "mouse"}, {kProbe, "check_admin_psw=888888"});
  EXPECT_EQ(r.status, 1) << r.output << r.errors;
  EXPECT_THAT(lines(r.output), ::testing::Contains("trace: No recorder found"));
  EXPECT_THAT(results(r), ElementsAre("session no_device"));
  const Wire w = wire();
  EXPECT_TRUE(w.controls.empty());
  for (const IoctlLine& i : w.ioctls) {
    EXPECT_NE(i.vendor, 0x4255) << format(i);
  }
}

TEST_F(EmulatedLink, ADeniedRecorderIsTracedAsDenied) {
  const BusRun r = run({"--denied"}, {kProbe, "check_admin_psw=888888"});
  EXPECT_EQ(r.status, 1) << r.output << r.errors;
  EXPECT_THAT(results(r), ElementsAre("session configuration_failed -1"));
  EXPECT_THAT(r.output, HasSubstr("trace: Cannot set configuration (-1)"));
  EXPECT_THAT(r.output, HasSubstr("denied"));
  EXPECT_TRUE(wire().controls.empty());
}

TEST_F(EmulatedLink, UnpluggedMidSessionTheRestFailsAndTheNextScanFindsNothing) {
  const BusRun r =
      run({"--unplug-at", "3"}, {kProbe, "check_admin_psw=888888", "check_admin_psw=888888",
                                 "get_device_info", "--then", kProbe, "check_admin_psw=888888"});
  EXPECT_EQ(r.status, 1) << r.output << r.errors;
  EXPECT_THAT(results(r), ElementsAre("session ready", "check_admin_psw 246", "check_admin_psw 247",
                                      "get_device_info 256 serial=", "session no_device"));
  const Wire w = wire();
  // After a failed command no reply is asked for.
  ASSERT_EQ(w.controls.size(), 4u);
  EXPECT_EQ(w.controls[1].result, 12);
  EXPECT_EQ(w.controls[2].result, -19);
  EXPECT_EQ(w.controls[2].type, 0x40);
  EXPECT_EQ(w.controls[3].result, -19);
  EXPECT_EQ(w.controls[3].type, 0x40);
  EXPECT_THAT(w.exits, ElementsAre(ExitLine{0, 0}, ExitLine{1, 1}));
  // As a real hub would, the bus tells udev.
  EXPECT_THAT(w.uevents, ElementsAre(UeventLine{0, "001/003", 0x4255, "remove"}));
}

TEST_F(EmulatedLink, WhatOneProgramSetsTheNextOneFinds) {
  const BusRun r = run({}, {kProbe, "set_admin_psw=123456", "--then", kProbe,
                            "check_admin_psw=123456", "check_admin_psw=888888"});
  ASSERT_EQ(r.status, 0) << r.output << r.errors;
  EXPECT_THAT(results(r), ElementsAre("session ready", "set_admin_psw 246", "session ready",
                                      "check_admin_psw 246", "check_admin_psw 247"));
  const Wire w = wire();
  EXPECT_THAT(w.exits, ElementsAre(ExitLine{0, 0}, ExitLine{1, 0}));
  ASSERT_EQ(w.controls.size(), 6u);
  EXPECT_EQ(w.controls[0].step, 0);
  EXPECT_EQ(w.controls[2].step, 1);
}

TEST_F(EmulatedLink, PasswordsAndPreRecordingCanBeSetForTheRun) {
  const BusRun r = run({"--admin", "654321", "--normal", "111111", "--pre-recording"},
                       {kProbe, "check_admin_psw=654321", "check_normal_psw=111111",
                        "check_normal_psw=000000", "set_motion_on"});
  ASSERT_EQ(r.status, 0) << r.output << r.errors;
  EXPECT_THAT(results(r),
              ElementsAre("session ready", "check_admin_psw 246", "check_normal_psw 130",
                          "check_normal_psw 131", "set_motion_on 249"));
}

TEST_F(EmulatedLink, AllProgramsRunAndTheFirstFailureIsTheExitStatus) {
  const BusRun r =
      run({}, {"true", "--then", "sh", "-c", "exit 3", "--then", "sh", "-c", "exit 4"});
  EXPECT_EQ(r.status, 3) << r.errors;
  EXPECT_THAT(wire().exits, ElementsAre(ExitLine{0, 0}, ExitLine{1, 3}, ExitLine{2, 4}));
}

TEST(EmulatedBus, RefusesToRunWithoutUmockdevsPreload) {
  const BusRun r = run_bus_directly({"--", "true"});
  ASSERT_TRUE(r.started) << r.errors;
  EXPECT_EQ(r.status, 125);
  EXPECT_THAT(r.errors, HasSubstr("umockdev-wrapper"));
}

}  // namespace
}  // namespace kbc::emulated
