#include "link/session.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_port.h"
#include "link/trace.h"

namespace kbc::link {
namespace {

using testing::device;
using ::testing::ElementsAre;
using testing::FakePort;
using ::testing::HasSubstr;

class SessionTest : public ::testing::Test {
 protected:
  SessionTest() {
    previous_ = set_trace_sink([this](std::string_view line) { traces.emplace_back(line); });
  }
  ~SessionTest() override { set_trace_sink(std::move(previous_)); }

  Session open() {
    Link link{port, port};
    return Session::open(link);
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

TEST_F(SessionTest, ARecorderListedAfterOtherDevicesIsFoundAndTheyAreNotOpened) {
  port.devices_on_bus = {device(0x1d6b), device(0x8087), device(0x4255, false), device(0x4255)};
  Session session = open();
  EXPECT_TRUE(session.ready());
  EXPECT_THAT(std::vector(port.log.begin() + 5, port.log.begin() + 7),
              ElementsAre("open 3", "open 4"));
  EXPECT_EQ(port.open_handles, 1);
}

TEST_F(SessionTest, NoRecorderOnAnyBus) {
  port.devices_on_bus = {device(0x1d6b), device(0x4255, false)};
  Session session = open();
  EXPECT_EQ(session.state(), Session::State::no_device);
  EXPECT_FALSE(session.ready());
  EXPECT_TRUE(port.controls.empty());
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

TEST_F(SessionTest, CloseEndsTheSessionEarly) {
  port.devices_on_bus = {device()};
  Session session = open();
  session.close();
  EXPECT_FALSE(session.ready());
  EXPECT_EQ(port.open_handles, 0);
  session.close();
  EXPECT_EQ(std::count(port.log.begin(), port.log.end(), "close 1"), 1);
}

TEST(OpenAndCheck, AnotherVendorIsTheWrongDevice) {
  FakePort port;
  port.devices_on_bus = {device(0x1234)};
  const UsbDevice listed = port.devices()[0];
  auto handle = port.open(listed);
  port.log.clear();
  const CheckResult result = open_and_check(listed, *handle, port);
  EXPECT_EQ(result.kind, CheckResult::Kind::wrong_device);
  EXPECT_EQ(result.value(), 0);
  EXPECT_THAT(port.log, ElementsAre("pause 100")) << "nothing is sent to it";
}

TEST(OpenAndCheck, AnyProductOfTheVendorIsTheRecorder) {
  FakePort port;
  port.devices_on_bus = {device()};
  UsbDevice listed = port.devices()[0];
  listed.product = 0xBEEF;
  auto handle = port.open(listed);
  const CheckResult result = open_and_check(listed, *handle, port);
  EXPECT_EQ(result.value(), 1);
  EXPECT_EQ((CheckResult{CheckResult::Kind::configuration_failed, -5}.value()), -5);
}

}  // namespace
}  // namespace kbc::link
