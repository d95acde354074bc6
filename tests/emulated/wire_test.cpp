#include "wire.h"

#include <gtest/gtest.h>

#include "bus_layout.h"

namespace kbc::emulated {
namespace {

TEST(Wire, ControlLinesReadBackAsWritten) {
  const ControlLine line{1,  "001/003",         0x4255, 0x40, 0x55, 0x00aa, 0, 18, 1000,
                         18, {0x33, 0x38, 0x00}};
  EXPECT_EQ(format(line),
            "control step=1 node=001/003 vendor=4255 type=40 request=55 value=00aa index=0000 "
            "length=18 timeout=1000 result=18 data=333800");
  const auto wire = parse_wire(format(line) + "\n");
  ASSERT_TRUE(wire);
  ASSERT_EQ(wire->controls.size(), 1u);
  EXPECT_EQ(wire->controls[0], line);
}

TEST(Wire, AFailedInHasEmptyData) {
  const ControlLine line{0, "001/003", 0x4255, 0xc0, 0x55, 0x00aa, 0, 12, 1000, -110, {}};
  const auto wire = parse_wire(format(line));
  ASSERT_TRUE(wire);
  EXPECT_EQ(wire->controls.at(0), line);
}

TEST(Wire, IoctlUeventAndExitLinesReadBackInOrder) {
  const IoctlLine with_arg{0, "001/003", 0x4255, "clear_halt", 129, 0};
  const IoctlLine without{0, "001/001", 0x1d6b, "connectinfo", std::nullopt, -1};
  const UeventLine added{1, "001/004", 0x4255, "add"};
  const ExitLine exit{2, 3};
  EXPECT_EQ(format(added), "uevent step=1 node=001/004 vendor=4255 action=add");
  const auto wire = parse_wire(format(with_arg) + "\n" + format(without) + "\n" + format(added) +
                               "\n" + format(exit) + "\n");
  ASSERT_TRUE(wire);
  ASSERT_EQ(wire->ioctls.size(), 2u);
  EXPECT_EQ(wire->ioctls[0], with_arg);
  EXPECT_EQ(wire->ioctls[1], without);
  ASSERT_EQ(wire->uevents.size(), 1u);
  EXPECT_EQ(wire->uevents[0], added);
  ASSERT_EQ(wire->exits.size(), 1u);
  EXPECT_EQ(wire->exits[0], exit);
}

TEST(Wire, ALineOfNoKnownFormIsRejected) {
  EXPECT_FALSE(parse_wire("bulk step=0\n"));
  EXPECT_FALSE(parse_wire("exit step=0\n"));
  EXPECT_FALSE(parse_wire("exit step=0 status=x\n"));
  EXPECT_FALSE(parse_wire("uevent step=0 node=001/004 action=add\n"));
  EXPECT_FALSE(
      parse_wire("control step=0 node=001/003 vendor=4255 type=40 request=55 "
                 "value=00aa index=0000 length=18 timeout=1000 result=18 data=3\n"));
}

// libusb 0.1 reads the whole configuration by its wTotalLength; a wrong one loses the device.
TEST(BusLayout, EveryConfigurationIsAsLongAsItSays) {
  for (const BusDevice& device : bus_devices(*parse_layout(kDefaultLayout))) {
    const auto& d = device.descriptors;
    ASSERT_GE(d.size(), 18u + 9u);
    EXPECT_EQ(d[0], 18);
    EXPECT_EQ(d[1], 1);
    EXPECT_EQ(d[8] | d[9] << 8, device.vendor);
    EXPECT_EQ(d[10] | d[11] << 8, device.product);
    EXPECT_EQ(d[18 + 1], 2);
    EXPECT_EQ(static_cast<std::size_t>(d[18 + 2] | d[18 + 3] << 8), d.size() - 18) << device.node();
  }
}

TEST(BusLayout, TheRecorderHasConfigurationOneInterfaceZeroAndBothBulkEndpoints) {
  const auto devices = bus_devices(*parse_layout(kDefaultLayout));
  ASSERT_EQ(devices.size(), 3u);
  const BusDevice& recorder = devices[2];
  EXPECT_EQ(recorder.role, Role::recorder);
  EXPECT_EQ(recorder.vendor, 0x4255);
  EXPECT_EQ(recorder.node(), "001/003");
  const auto& d = recorder.descriptors;
  const std::vector<std::uint8_t> expected_tail{
      9, 2, 32,   0, 1,    1,    0, 0x80, 250,  // configuration 1, one interface
      9, 4, 0,    0, 2,    0xff, 0, 0,    0,    // interface 0, two endpoints
      7, 5, 0x01, 2, 0x00, 0x02, 0,             // bulk OUT 0x01
      7, 5, 0x81, 2, 0x00, 0x02, 0};            // bulk IN 0x81
  EXPECT_EQ(std::vector<std::uint8_t>(d.begin() + 18, d.end()), expected_tail);
}

TEST(BusLayout, WithoutTheRecorderOnlyTheHubAndTheOtherDeviceRemain) {
  const auto devices = bus_devices(*parse_layout("mouse"));
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0].vendor, kRootHubVendor);
  EXPECT_EQ(devices[1].vendor, kOtherVendor);
  const std::string text = describe(devices);
  EXPECT_NE(text.find("N: bus/usb/001/001="), std::string::npos);
  EXPECT_NE(text.find("N: bus/usb/001/002="), std::string::npos);
  EXPECT_EQ(text.find("001/003"), std::string::npos);
}

TEST(BusLayout, RecordersAnywhereAmongOtherDevicesEachWithASerialOfItsOwn) {
  const auto layout = parse_layout("recorder=A1,mouse,recorder,recorder=KBC0009");
  ASSERT_TRUE(layout);
  EXPECT_EQ(*layout, (std::vector<Plug>{{Role::recorder, "A1"},
                                        {Role::other, ""},
                                        {Role::recorder, "KBC0002"},
                                        {Role::recorder, "KBC0009"}}));
  const auto devices = bus_devices(*layout);
  ASSERT_EQ(devices.size(), 5u);
  for (std::size_t i = 0; i < devices.size(); ++i) {
    EXPECT_EQ(devices[i].devnum, static_cast<int>(i) + 1);
    EXPECT_EQ(devices[i].port, static_cast<int>(i));
  }
  EXPECT_EQ(devices[3].node(), "001/004");
  EXPECT_EQ(devices[3].serial, "KBC0002");
  EXPECT_EQ(devices[3].sysfs, "/devices/pci0000:00/0000:00:14.0/usb1/1-3");
}

TEST(BusLayout, ALayoutOfUnknownWordsOrBadSerialsIsRefused) {
  for (const std::string_view layout :
       {"", "mouse,", ",mouse", "keyboard", "recorder=", "recorder=KBC00010011", "recorder=a b",
        "recorder=a,b", "recorder=\x01"}) {
    EXPECT_FALSE(parse_layout(layout)) << layout;
  }
  std::string full = "mouse";
  for (int i = 1; i < kLastDevnum; ++i) {
    full += ",mouse";
  }
  EXPECT_FALSE(parse_layout(full)) << "127 devices and the hub are more than the bus numbers";
  EXPECT_TRUE(parse_layout(full.substr(6)));
}

}  // namespace
}  // namespace kbc::emulated
