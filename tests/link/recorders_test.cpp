#include "link/recorders.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

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

// identify_recorder: which recorder a session would open, by what the link names.
struct Identified {
  const char* name;
  std::optional<std::string> location;
  std::optional<std::string> found;   // its location; nullopt: none
  std::optional<std::string> serial;  // get_sn's text
};

class Identify : public RecordersTest, public ::testing::WithParamInterface<Identified> {};

TEST_P(Identify, OnlyTheRecorderTheSessionWouldOpenIsAskedForItsSerial) {
  const Identified& row = GetParam();
  // Recorders at 001/2 and 001/4, a mouse between them; only 001/2 answers get_sn.
  port.devices_on_bus = {device(0x1d6b), device(), device(0x046d), device()};
  port.devices_on_bus[1].transfers = {sent(18), sn_reply("KBC0001234")};
  port.devices_on_bus[3].transfers = {sent(18), reply(79, 1)};
  if (!row.location) {
    port.devices_on_bus.resize(2);  // 001/2 alone
  }
  link.location = row.location;

  const std::optional<ListedRecorder> identified = identify_recorder(link);
  ASSERT_EQ(identified.has_value(), row.found.has_value());
  const std::size_t opened = std::count_if(port.log.begin(), port.log.end(),
                                           [](const auto& l) { return l.starts_with("open "); });
  if (!identified) {
    EXPECT_EQ(opened, 0u);
    return;
  }
  EXPECT_EQ(identified->device.location(), *row.found);
  EXPECT_EQ(identified->serial.has_value(), row.serial.has_value());
  if (row.serial) {
    EXPECT_EQ(identified->serial->bytes(), *row.serial);
  }
  EXPECT_EQ(opened, 1u);
  EXPECT_EQ(port.open_handles, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Recorders, Identify,
    ::testing::Values(Identified{"only_one", std::nullopt, "001/2", "KBC0001234"},
                      Identified{"chosen", "001/2", "001/2", "KBC0001234"},
                      Identified{"chosen_without_serial", "001/4", "001/4", std::nullopt},
                      Identified{"chosen_and_gone", "001/9", std::nullopt, std::nullopt},
                      Identified{"the_mouse", "001/3", std::nullopt, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RecordersTest, SeveralAndNoneChosenIdentifyNoneAndOpenNothing) {
  port.devices_on_bus = {device(), device()};
  EXPECT_EQ(identify_recorder(link), std::nullopt);
  port.devices_on_bus.clear();
  EXPECT_EQ(identify_recorder(link), std::nullopt);
  EXPECT_TRUE(port.controls.empty());
}

}  // namespace
}  // namespace kbc::link
