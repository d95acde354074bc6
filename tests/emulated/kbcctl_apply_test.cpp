// kbcctl --all apply through the real libusb 0.1 on a bus of the root hub, recorder A, a mouse,
// recorders B and C: one scan, then each recorder served on a thread of its own, each getting its
// own full sequence while the others get theirs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>

#include "command_wire.h"
#include "emulated_run.h"
#include "tests/console/station_profile.h"

namespace kbc::emulated {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

const std::string kKbcctl = KBC_KBCCTL;
const std::string kLayout = "recorder=KBCA000001,mouse,recorder=KBCB000002,recorder=KBCC000003";
const std::map<std::string, std::string> kSerials{
    {"001/002", "KBCA000001"}, {"001/004", "KBCB000002"}, {"001/005", "KBCC000003"}};
const std::string kMouse = "001/003";

// get_sn in a session of its own, then check_admin_psw, set_time and the profile's commands.
const std::string kSequence = "J36" + std::string(testing::kStationLetters);

class ApplyOnTheBus : public BusTest {
 protected:
  ApplyOnTheBus() {
    std::ofstream(password_) << "888888\n";
    std::ofstream(profile_) << testing::kStationProfile;
  }

  // The controls of one node, in order.
  Wire of(const std::string& node) const {
    Wire only;
    std::ranges::copy_if(wire_.controls, std::back_inserter(only.controls),
                         [&](const ControlLine& c) { return c.node == node; });
    return only;
  }

  std::string letters(const std::string& node) const {
    std::string sent;
    for (const ControlLine& c : of(node).controls) {
      if (c.type == 0x40 && !c.data.empty()) {
        sent.push_back(static_cast<char>(c.data.front()));
      }
    }
    return sent;
  }

  // Where the node's first and last transfers stand among all the bus's transfers.
  std::pair<std::size_t, std::size_t> span(const std::string& node) const {
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < wire_.controls.size(); ++i) {
      if (wire_.controls[i].node == node) {
        at.push_back(i);
      }
    }
    return at.empty() ? std::pair<std::size_t, std::size_t>{} : std::pair{at.front(), at.back()};
  }

  std::string password_ = scratch_.file("password");
  std::string profile_ = scratch_.file("station.toml");
  Wire wire_;
};

TEST_F(ApplyOnTheBus, AllGivesEachRecorderItsOwnFullSequenceAtOnce) {
  const std::string before = local_digits();
  const BusRun r = run_recorded({"--bus", kLayout, "--", kKbcctl, "--password-file", password_,
                                 "--all", "--json", "apply", profile_});
  const std::string after = local_digits();
  EXPECT_EQ(r.status, 0) << r.output << r.errors;
  wire_ = wire();

  // One receipt per recorder, each with every step carried out.
  std::vector<std::string> receipts;
  std::istringstream lines(r.output);
  for (std::string line; std::getline(lines, line);) {
    receipts.push_back(line);
  }
  ASSERT_EQ(receipts.size(), 3u) << r.output;
  std::ranges::sort(receipts);
  auto serial = kSerials.begin();
  for (const std::string& receipt : receipts) {
    EXPECT_THAT(receipt, HasSubstr(R"({"location":")" + serial->first + R"(","serial":")" +
                                   serial->second + R"(","ok":true,"report":null,)"));
    EXPECT_THAT(receipt, HasSubstr(R"({"key":"unit-name","value":"龙华分局",)"
                                   R"("report":"设置单位名称成功","ok":true})"));
    ++serial;
  }

  for (const auto& [node, serial_number] : kSerials) {
    SCOPED_TRACE(node);
    EXPECT_EQ(letters(node), kSequence);
    // Each command after its reply, with the setup and time-out of every command.
    const Wire own = of(node);
    expect_transfers_as_the_link_sends_them(own);
    // The PC's clock of the run, and each field where the buttons put it.
    const std::vector<std::string> sent = payloads(own, 0);
    ASSERT_EQ(sent.size(), kSequence.size());
    EXPECT_NE(sent_time(sent[2], before, after), "");
    EXPECT_EQ(sent[8], padded("]1"));
    EXPECT_EQ(sent[11], padded("}A7"));
    EXPECT_EQ(sent[12].substr(46, 12), "A7==========");
    EXPECT_EQ(sent[12].substr(58, 8), "\xC1\xFA\xBB\xAA\xB7\xD6\xBE\xD6");  // 龙华分局 in GBK
  }
  EXPECT_THAT(of(kMouse).controls, IsEmpty());

  // Served at once: every recorder's transfers began before every other's ended.
  for (const auto& [a, _] : kSerials) {
    for (const auto& [b, __] : kSerials) {
      if (a != b) {
        EXPECT_LT(span(a).first, span(b).second) << a << " before " << b;
      }
    }
  }
  // One scan, which asks every node for its connection once; then two sessions per recorder,
  // one for its serial number and one for the profile.
  for (const std::string& node : {kMouse, kSerials.begin()->first, kSerials.rbegin()->first}) {
    EXPECT_EQ(std::ranges::count_if(
                  wire_.ioctls,
                  [&](const IoctlLine& i) { return i.node == node && i.name == "connectinfo"; }),
              1)
        << node;
  }
  for (const auto& serial : kSerials) {
    const auto& node = serial.first;
    EXPECT_EQ(std::ranges::count_if(wire_.ioctls,
                                    [&](const IoctlLine& i) {
                                      return i.node == node && i.name == "setconfiguration";
                                    }),
              2)
        << node;
  }
}

TEST_F(ApplyOnTheBus, WithoutAllAndSeveralRecordersNothingButTheSerialsIsAsked) {
  const BusRun r = run_recorded(
      {"--bus", kLayout, "--", kKbcctl, "--password-file", password_, "apply", profile_});
  EXPECT_EQ(r.status, 3) << r.output << r.errors;
  EXPECT_EQ(r.output, "");
  EXPECT_THAT(r.errors, HasSubstr("连接了多台记录仪，请先选择一台!\n"));
  wire_ = wire();
  for (const auto& serial : kSerials) {
    const auto& node = serial.first;
    EXPECT_EQ(letters(node), "J") << node;
  }
}

}  // namespace
}  // namespace kbc::emulated
