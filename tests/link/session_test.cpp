#include "link/session.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_port.h"
#include "link/trace.h"

namespace kbc::link {
namespace {

using testing::device;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::FakeDevice;
using testing::FakePort;
using ::testing::HasSubstr;

using Log = std::vector<std::string>;

// What every session does before it opens anything.
const Log kScan{"init", "find_busses", "pause 100", "find_devices", "pause 100"};

class SessionTest : public ::testing::Test {
 protected:
  SessionTest() {
    previous_ = set_trace_sink([this](std::string_view line) { traces.emplace_back(line); });
  }
  ~SessionTest() override { set_trace_sink(std::move(previous_)); }

  Session open(std::optional<std::string> location = std::nullopt) {
    Link link{port, port, std::move(location)};
    return Session::open(link);
  }

  // The calls after the scan.
  Log after_scan() const {
    EXPECT_GE(port.log.size(), kScan.size());
    EXPECT_EQ(Log(port.log.begin(), port.log.begin() + kScan.size()), kScan);
    return Log(port.log.begin() + kScan.size(), port.log.end());
  }

  FakePort port;
  std::vector<std::string> traces;

 private:
  TraceSink previous_;
};

TEST_F(SessionTest, PreparesTheRecorderInOrderAndClosesItAtTheEnd) {
  port.devices_on_bus = {device()};
  {
    Session session = open();
    EXPECT_TRUE(session.ready());
    EXPECT_EQ(port.open_handles, 1);
  }
  EXPECT_THAT(port.log, ElementsAre("init", "find_busses", "pause 100", "find_devices", "pause 100",
                                    "open 1", "set_configuration 1", "claim_interface 0",
                                    "clear_halt 1", "clear_halt 129", "close 1"));
  EXPECT_EQ(port.open_handles, 0);
}

constexpr std::uint16_t kHub = 0x1d6b;
constexpr std::uint16_t kMouse = 0x046d;

struct Choice {
  std::string_view name;
  std::vector<FakeDevice> bus;  // listed as 001/1, 001/2, ...
  std::optional<std::string> location;
  Session::State state;
  Log opened;  // the calls after the scan that open something
  std::string_view trace = {};
};

// Only the chosen recorder, or the only one, is ever opened; other vendors never are.
TEST_F(SessionTest, OpensOnlyTheChosenOrTheOnlyRecorder) {
  using State = Session::State;
  const Choice choices[] = {
      {"one among others", {device(kHub), device(kMouse), device()}, {}, State::ready, {"open 3"}},
      {"none", {device(kHub)}, {}, State::no_device, {}, "No recorder found"},
      {"one that does not open",
       {device(kHub), device(0x4255, false)},
       {},
       State::no_device,
       {"open 2"},
       "Cannot open the recorder at 001/2"},
      {"two, none chosen",
       {device(), device(kHub), device()},
       {},
       State::several_recorders,
       {},
       "2 recorders found and none chosen"},
      // One of them would not even open; it is still a recorder the operator must tell apart.
      {"an unopenable one beside an openable one",
       {device(0x4255, false), device()},
       {},
       State::several_recorders,
       {}},
      {"the second of two chosen",
       {device(), device(kHub), device()},
       "001/3",
       State::ready,
       {"open 3"}},
      {"the only one chosen", {device(kHub), device()}, "001/2", State::ready, {"open 2"}},
      {"a chosen one that is gone",
       {device(), device()},
       "001/5",
       State::no_device,
       {},
       "The chosen recorder is not on the bus"},
      {"a location of another vendor", {device(kHub), device()}, "001/1", State::no_device, {}},
      {"a chosen one that does not open",
       {device(0x4255, false), device()},
       "001/1",
       State::no_device,
       {"open 1"}},
  };
  for (const Choice& choice : choices) {
    SCOPED_TRACE(choice.name);
    port = FakePort();
    traces.clear();
    port.devices_on_bus = choice.bus;
    Session session = open(choice.location);
    EXPECT_EQ(session.state(), choice.state);
    Log opened;
    for (const std::string& call : after_scan()) {
      if (call.starts_with("open ")) {
        opened.push_back(call);
      }
    }
    EXPECT_THAT(opened, ElementsAreArray(choice.opened));
    EXPECT_TRUE(port.controls.empty());
    EXPECT_EQ(port.open_handles, session.ready() ? 1 : 0);
    if (!choice.trace.empty()) {
      EXPECT_THAT(traces, ::testing::Contains(std::string(choice.trace)));
    }
  }
}

TEST_F(SessionTest, AFailedConfigurationEndsTheSessionWithItsCodeAndClosesTheHandle) {
  port.devices_on_bus = {device(0x4255, true, -16)};
  Session session = open();
  EXPECT_EQ(session.state(), Session::State::configuration_failed);
  EXPECT_EQ(session.configuration_error(), -16);
  EXPECT_EQ(port.open_handles, 0);
  EXPECT_EQ(port.log.back(), "close 1");
  EXPECT_THAT(traces, ::testing::Contains("Cannot set configuration (-16)"));
}

TEST_F(SessionTest, ATraceTellsWhenAccessWasDenied) {
  port.devices_on_bus = {device(0x4255, true, -1)};  // -EPERM
  open();
  EXPECT_THAT(traces.back(), HasSubstr("denied"));
}

TEST_F(SessionTest, TheNextSessionOpensTheDeviceAgain) {
  port.devices_on_bus = {device(0x4255, true, -16)};
  open();
  port.devices_on_bus[0].configuration_result = 0;
  EXPECT_TRUE(open().ready());
}

TEST_F(SessionTest, AListedRecorderOpensWithoutAScanAndAnyProductOfTheVendorIsOne) {
  port.devices_on_bus = {device(kHub), device()};
  UsbDevice listed = port.devices()[1];
  listed.product = 0xBEEF;
  Link link{port, port};
  const Session session = Session::open_listed(link, listed);
  EXPECT_TRUE(session.ready());
  EXPECT_THAT(port.log, ElementsAre("open 2", "set_configuration 1", "claim_interface 0",
                                    "clear_halt 1", "clear_halt 129"));
  EXPECT_EQ(listed.location(), "001/2");
}

}  // namespace
}  // namespace kbc::link
