#include "link/recorders.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_port.h"
#include "link/trace.h"

namespace kbc::link {
namespace {

using testing::device;
using ::testing::ElementsAre;
using testing::FakePort;
using testing::reply;
using testing::sent;
using testing::Transfer;

// get_sn's reply carrying this text after its code and outcome.
Transfer sn_reply(std::string_view text) {
  Transfer transfer = reply(16, 1);
  std::copy(text.begin(), text.end(), transfer.reply.begin() + 2);
  return transfer;
}

class RecordersTest : public ::testing::Test {
 protected:
  RecordersTest() : previous_(set_trace_sink({})) {}
  ~RecordersTest() override { set_trace_sink(std::move(previous_)); }

  FakePort port;
  Link link{port, port};

 private:
  TraceSink previous_;
};

TEST_F(RecordersTest, TheScanListsTheRecordersInBusOrderAndOpensNothing) {
  port.devices_on_bus = {device(0x1d6b), device(), device(0x046d), device(0x4255, false)};
  const std::vector<UsbDevice> recorders = scan_recorders(link);
  ASSERT_EQ(recorders.size(), 2u);
  EXPECT_EQ(recorders[0].location(), "001/2");
  EXPECT_EQ(recorders[1].location(), "001/4");
  EXPECT_THAT(port.log,
              ElementsAre("init", "find_busses", "pause 100", "find_devices", "pause 100"));
}

TEST_F(RecordersTest, EachRecorderGivesItsSerialInASessionOfItsOwnAfterOneScan) {
  port.devices_on_bus = {device(0x1d6b), device(), device(0x046d), device(0x4255, false), device()};
  port.devices_on_bus[1].transfers = {sent(18), sn_reply("KBC0001234")};
  // The last one answers get_sn with another command's code.
  port.devices_on_bus[4].transfers = {sent(18), reply(79, 1)};

  const std::vector<ListedRecorder> listed = list_recorders(link);
  ASSERT_EQ(listed.size(), 3u);
  EXPECT_EQ(listed[0].device.location(), "001/2");
  EXPECT_EQ(listed[0].serial, GbkText::from_bytes("KBC0001234"));
  EXPECT_EQ(listed[1].device.location(), "001/4");
  EXPECT_EQ(listed[1].serial, std::nullopt) << "it does not open";
  EXPECT_EQ(listed[2].device.location(), "001/5");
  EXPECT_EQ(listed[2].serial, std::nullopt);

  const std::vector<std::string> session = {"set_configuration 1",
                                            "claim_interface 0",
                                            "clear_halt 1",
                                            "clear_halt 129",
                                            "pause 100",
                                            "out",
                                            "in"};
  std::vector<std::string> expected{"init",         "find_busses", "pause 100",
                                    "find_devices", "pause 100",   "open 2"};
  expected.insert(expected.end(), session.begin(), session.end());
  expected.insert(expected.end(), {"close 2", "open 4", "open 5"});
  expected.insert(expected.end(), session.begin(), session.end());
  expected.push_back("close 5");
  EXPECT_EQ(port.log, expected);
  // get_sn alone, no password.
  ASSERT_EQ(port.controls.size(), 4u);
  EXPECT_EQ(port.controls[0].data,
            std::vector<std::uint8_t>({'J', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(port.open_handles, 0);
}

TEST_F(RecordersTest, AnEmptyBusListsNothing) {
  port.devices_on_bus = {device(0x1d6b)};
  EXPECT_TRUE(list_recorders(link).empty());
  EXPECT_TRUE(port.controls.empty());
}

}  // namespace
}  // namespace kbc::link
