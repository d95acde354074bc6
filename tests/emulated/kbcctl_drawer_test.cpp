// kbcctl through the real libusb 0.1 on a bus of the root hub, recorder A, a mouse and recorder B:
// the drawer listed, one recorder chosen, and none reached without a choice.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>

#include "command_wire.h"
#include "emulated_run.h"

namespace kbc::emulated {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

const std::string kKbcctl = KBC_KBCCTL;
const std::string kA = "001/002", kB = "001/004";
const std::string kLayout = "recorder=KBCA000001,mouse,recorder=KBCB000002";

class Drawer : public BusTest {
 protected:
  Drawer() { std::ofstream(password_) << "888888\n"; }

  // kbcctl ARGS on the drawer, then the wire it left.
  BusRun kbcctl(const std::vector<std::string>& args) {
    std::vector<std::string> arguments{"--bus", kLayout, "--control",       fifo_,
                                       "--",    kKbcctl, "--password-file", password_};
    arguments.insert(arguments.end(), args.begin(), args.end());
    BusRun r = run_recorded(arguments);
    wire_ = wire();
    expect_transfers_as_the_link_sends_them(wire_);
    return r;
  }

  // The recorders in the order the step's first scan opened them: libusb 0.1 lists a bus's
  // devices in the order it finds their nodes, which is the file system's.
  std::vector<std::string> scan_order(int step = 0) const {
    std::vector<std::string> order;
    for (const IoctlLine& i : wire_.ioctls) {
      if (i.step == step && i.name == "connectinfo" && i.vendor == 0x4255 &&
          std::find(order.begin(), order.end(), i.node) == order.end()) {
        order.push_back(i.node);
      }
    }
    return order;
  }

  // The command letters each node got, in order.
  std::string letters(const std::string& node) const {
    std::string sent;
    for (const ControlLine& c : wire_.controls) {
      if (c.node == node && c.type == 0x40 && !c.data.empty()) {
        sent.push_back(static_cast<char>(c.data.front()));
      }
    }
    return sent;
  }

  std::string fifo_ = scratch_.file("control");
  std::string password_ = scratch_.file("password");
  Wire wire_;
};

const std::map<std::string, std::string> kSerials{{kA, "KBCA000001"}, {kB, "KBCB000002"}};

TEST_F(Drawer, ListShowsBothRecordersInBusOrderWithTheirSerials) {
  BusRun r = kbcctl({"list"});
  EXPECT_EQ(r.status, 0) << r.errors;
  const std::vector<std::string> order = scan_order();
  ASSERT_THAT(order, UnorderedElementsAre(kA, kB));
  EXPECT_THAT(lines(r.output), ElementsAre(order[0] + "\t" + kSerials.at(order[0]),
                                           order[1] + "\t" + kSerials.at(order[1])));
  EXPECT_EQ(letters(kA), "J");
  EXPECT_EQ(letters(kB), "J");

  r = kbcctl({"list", "--json"});
  EXPECT_EQ(r.status, 0) << r.errors;
  const auto entry = [](const std::string& node) {
    return R"({"location":")" + node + R"(","serial":")" + kSerials.at(node) + R"("})";
  };
  EXPECT_THAT(lines(r.output),
              ElementsAre("[" + entry(scan_order()[0]) + "," + entry(scan_order()[1]) + "]"));
}

TEST_F(Drawer, SerialBVerifiesOnlyOnBAfterAskingEachForItsSerial) {
  const BusRun r = kbcctl({"--serial", "KBCB000002", "verify"});
  EXPECT_EQ(r.status, 0) << r.output << r.errors;
  EXPECT_EQ(letters(kA), "J");
  EXPECT_EQ(letters(kB), "J-3E6");
  // Nothing but the look-up prepares A either.
  for (const IoctlLine& i : wire_.ioctls) {
    if (i.node == kA && i.name == "setconfiguration") {
      EXPECT_EQ(i.arg, 1);
    }
  }
}

TEST_F(Drawer, WithoutAChoiceNothingButTheSerialsIsAskedAndTheExitIsThree) {
  const BusRun r = kbcctl({"--yes", "erase"});
  EXPECT_EQ(r.status, 3) << r.output << r.errors;
  EXPECT_EQ(r.output, "");
  const std::vector<std::string> order = scan_order();
  ASSERT_EQ(order.size(), 2u);
  EXPECT_EQ(r.errors,
            "连接了多台记录仪，请先选择一台!\n"
            "kbcctl: several recorders are connected and none is chosen; choose one with --device "
            "LOCATION or --serial SERIAL:\n" +
                order[0] + "\t" + kSerials.at(order[0]) + "\n" + order[1] + "\t" +
                kSerials.at(order[1]) + "\n");
  EXPECT_EQ(letters(kA), "J");
  EXPECT_EQ(letters(kB), "J");
}

TEST_F(Drawer, ADeviceThatIsGoneIsNoRecorderAndTheOtherIsNotTaken) {
  std::vector<std::string> arguments{"--bus",     kLayout,
                                     "--wire",    wire_path_,
                                     "--control", fifo_,
                                     "--",        "sh",
                                     "-c",        "echo remove " + kB + " > \"$0\"",
                                     fifo_,       "--then",
                                     kKbcctl,     "--password-file",
                                     password_,   "--device",
                                     kB,          "verify"};
  const BusRun r = run_on_bus(arguments);
  ASSERT_TRUE(r.started) << r.errors;
  EXPECT_EQ(r.status, 4) << r.errors;
  EXPECT_THAT(lines(r.output), ElementsAre("重新连接!"));
  const auto w = read_wire(wire_path_);
  ASSERT_TRUE(w);
  EXPECT_THAT(w->controls, IsEmpty());
  EXPECT_THAT(w->uevents, ElementsAre(UeventLine{0, kB, 0x4255, "remove"}));
}

}  // namespace
}  // namespace kbc::emulated
