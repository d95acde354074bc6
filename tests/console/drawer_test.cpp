// The drawer as the window lists it: serial numbers read once per arrival, and a pick that no
// button ever trades for another recorder.
#include "console/drawer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "console/messages.h"
#include "console_fixture.h"

namespace kbc::console::testing {
namespace {

using Connected = std::vector<ConnectedRecorder>;

class ConsoleDrawerTest : public ConsoleTest {
 protected:
  // Recorder A (001/001), a mouse, recorder B (001/003).
  sim::SimRecorder& mouse_then_recorder() {
    bus.add_other_device(0x046d);
    return bus.add_recorder("KBC0002");
  }

  sim::SimRecorder& b = mouse_then_recorder();
  Drawer drawer{console, bus.link()};
  const ConnectedRecorder a_listed{"001/001", "KBC0001"};
  const ConnectedRecorder b_listed{"001/003", "KBC0002"};
};

TEST_F(ConsoleDrawerTest, ListsTheRecordersReadingEachSerialOncePerArrival) {
  drawer.refresh();
  EXPECT_EQ(drawer.state().connected, (Connected{a_listed, b_listed}));
  EXPECT_EQ(bus.letters_by_device(),
            (std::map<std::string, std::string>{{"001/001", "J"}, {"001/003", "J"}}));
  // Nothing came or went: the scan alone.
  bus.clear_wire();
  drawer.refresh();
  EXPECT_TRUE(bus.letters_by_device().empty());
  EXPECT_EQ(drawer.state().connected, (Connected{a_listed, b_listed}));

  // B came back at its place (the simulator keeps it): a new arrival, read again.
  b.state().set_serial("KBC0009");
  b.reconnect();
  drawer.forget(b.location());
  drawer.refresh();
  EXPECT_EQ(bus.letters_by_device(), (std::map<std::string, std::string>{{"001/003", "J"}}));
  EXPECT_EQ(drawer.state().connected, (Connected{a_listed, {"001/003", "KBC0009"}}));
}

// The simulated bus walked backwards, as libusb walks a device it has not seen before first.
class BackwardsBus final : public link::Port {
 public:
  explicit BackwardsBus(sim::SimBus& bus) : bus_(bus) {}
  void init() override { bus_.init(); }
  int find_busses() override { return bus_.find_busses(); }
  int find_devices() override { return bus_.find_devices(); }
  std::vector<link::UsbDevice> devices() override {
    std::vector<link::UsbDevice> devices = bus_.devices();
    std::reverse(devices.begin(), devices.end());
    return devices;
  }
  std::unique_ptr<link::DeviceHandle> open(const link::UsbDevice& device) override {
    return bus_.open(device);
  }

 private:
  sim::SimBus& bus_;
};

TEST_F(ConsoleDrawerTest, ListsByLocationWhateverOrderTheBusWalks) {
  BackwardsBus backwards(bus);
  Drawer walked_backwards(console, link::Link{backwards, bus});
  walked_backwards.refresh();
  EXPECT_EQ(walked_backwards.state().connected, (Connected{a_listed, b_listed}));
}

TEST_F(ConsoleDrawerTest, ARecorderThatLeftUnheardOfIsANewArrivalWhenItComesBack) {
  drawer.refresh();
  b.unplug();
  drawer.refresh();
  EXPECT_EQ(drawer.state().connected, (Connected{a_listed}));
  b.reconnect();
  bus.clear_wire();
  drawer.refresh();
  EXPECT_EQ(bus.letters_by_device(), (std::map<std::string, std::string>{{"001/003", "J"}}));
}

TEST_F(ConsoleDrawerTest, ASerialThatCannotBeReadIsUnknownAndNotAskedForAgainUntilTheNextArrival) {
  b.inject({.kind = sim::Fault::Kind::timeout, .letter = 'J'});
  drawer.refresh();
  EXPECT_EQ(drawer.state().connected, (Connected{a_listed, {"001/003", std::nullopt}}));
  bus.clear_wire();
  drawer.refresh();
  EXPECT_TRUE(bus.letters_by_device().empty());
}

TEST_F(ConsoleDrawerTest, AfterAPickOnlyThePickedRecorderGetsTheButtonsCommands) {
  drawer.refresh();
  ASSERT_TRUE(drawer.pick(b_listed));
  EXPECT_EQ(console.chosen_recorder(), "001/003");
  EXPECT_EQ(drawer.state().picked, b_listed);
  EXPECT_FALSE(drawer.state().picked_gone);
  EXPECT_TRUE(press(idc::verify, kAdmin));
  const auto letters = bus.letters_by_device();
  ASSERT_EQ(letters.size(), 1u);
  EXPECT_EQ(letters.begin()->first, "001/003");
}

TEST_F(ConsoleDrawerTest, APickThatNoLongerMatchesTheListChangesNothing) {
  drawer.refresh();
  ASSERT_TRUE(drawer.pick(a_listed));
  for (const ConnectedRecorder& stale :
       {ConnectedRecorder{"001/002", "KBC0001"}, ConnectedRecorder{"001/003", "KBC0001"},
        ConnectedRecorder{"001/003", std::nullopt}}) {
    EXPECT_FALSE(drawer.pick(stale)) << stale.location;
    EXPECT_EQ(console.chosen_recorder(), "001/001");
    EXPECT_EQ(drawer.state().picked, a_listed);
  }
}

TEST_F(ConsoleDrawerTest,
       WhenThePickedRecorderLeavesNoButtonReachesAnotherUntilTheOperatorPicksAgain) {
  drawer.refresh();
  ASSERT_TRUE(drawer.pick(b_listed));
  b.unplug();
  drawer.forget(b.location());
  drawer.refresh();
  DrawerState state = drawer.state();
  EXPECT_EQ(state.connected, (Connected{a_listed}));
  EXPECT_EQ(state.picked, b_listed);
  EXPECT_TRUE(state.picked_gone);
  // A is the only recorder left, and still no button reaches it.
  EXPECT_FALSE(press(idc::verify, kAdmin));
  EXPECT_EQ(view.lines, Lines{std::string(msg::reconnect)});
  EXPECT_TRUE(bus.letters_by_device().empty());

  // B back at its old place is a new arrival: not picked until the operator says so.
  b.reconnect();
  drawer.forget(b.location());
  drawer.refresh();
  EXPECT_TRUE(drawer.state().picked_gone);
  EXPECT_FALSE(press(idc::verify, kAdmin));
  EXPECT_EQ(view.lines, Lines{std::string(msg::reconnect)});
  EXPECT_TRUE(bus.letters_by_device().empty());

  ASSERT_TRUE(drawer.pick(a_listed));
  EXPECT_FALSE(drawer.state().picked_gone);
  EXPECT_TRUE(press(idc::verify, kAdmin));
  EXPECT_EQ(bus.letters_by_device().begin()->first, "001/001");
}

}  // namespace
}  // namespace kbc::console::testing
