#include "recorder_model.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <string_view>

namespace kbc::emulated {
namespace {

constexpr ControlSetup kOut{0x40, 0x55, 0x00aa, 0, 18, 1000};
constexpr ControlSetup kIn{0xc0, 0x55, 0x00aa, 0, 12, 1000};

std::array<std::uint8_t, 18> payload(std::string_view text) {
  std::array<std::uint8_t, 18> bytes{};
  std::copy(text.begin(), text.end(), bytes.begin());
  return bytes;
}

TEST(RecorderModel, AnOutCarriesACommandAndTheNextInReturnsItsReply) {
  RecorderModel recorder({});
  auto command = payload("3888888");
  EXPECT_EQ(recorder.control(kOut, command), 18);
  std::array<std::uint8_t, 12> reply{};
  EXPECT_EQ(recorder.control(kIn, reply), 12);
  EXPECT_EQ(reply[0], 79);
  EXPECT_EQ(reply[1], 1);
}

TEST(RecorderModel, TheReplyIsReturnedOnceThenTheInTimesOut) {
  RecorderModel recorder({});
  auto command = payload("3888888");
  recorder.control(kOut, command);
  std::array<std::uint8_t, 12> reply{};
  ASSERT_EQ(recorder.control(kIn, reply), 12);
  EXPECT_EQ(recorder.control(kIn, reply), -ETIMEDOUT);
}

TEST(RecorderModel, AnInWithoutCommandTimesOut) {
  RecorderModel recorder({});
  std::array<std::uint8_t, 12> reply{};
  EXPECT_EQ(recorder.control(kIn, reply), -ETIMEDOUT);
}

TEST(RecorderModel, AShorterInGetsTheReplyCutToItsLength) {
  RecorderModel recorder({});
  auto command = payload("}");
  recorder.control(kOut, command);
  std::array<std::uint8_t, 12> reply{};
  EXPECT_EQ(recorder.control(kIn, reply), 12);  // get_device_info's reply is 128 bytes
  EXPECT_EQ(reply[0], 84);
}

TEST(RecorderModel, ALongerInGetsOnlyTheReply) {
  RecorderModel recorder({});
  auto command = payload("3888888");
  recorder.control(kOut, command);
  std::array<std::uint8_t, 64> reply{};
  ControlSetup in = kIn;
  in.length = 64;
  EXPECT_EQ(recorder.control(in, reply), 12);
}

TEST(RecorderModel, InMassStorageModeNothingIsAnswered) {
  RecorderModel recorder({});
  auto command = payload("2888888");
  ASSERT_EQ(recorder.control(kOut, command), 18);
  std::array<std::uint8_t, 12> reply{};
  ASSERT_EQ(recorder.control(kIn, reply), 12);
  auto next = payload("3888888");
  EXPECT_EQ(recorder.control(kOut, next), 18);
  EXPECT_EQ(recorder.control(kIn, reply), -ETIMEDOUT);
}

TEST(RecorderModel, AnotherRequestValueOrIndexStalls) {
  RecorderModel recorder({});
  auto command = payload("3888888");
  for (ControlSetup setup : {ControlSetup{0x40, 0x56, 0x00aa, 0, 18, 1000},
                             ControlSetup{0x40, 0x55, 0x00ab, 0, 18, 1000},
                             ControlSetup{0x40, 0x55, 0x00aa, 1, 18, 1000},
                             ControlSetup{0x41, 0x55, 0x00aa, 0, 18, 1000},
                             ControlSetup{0x80, 0x06, 0x0100, 0, 18, 1000}}) {
    EXPECT_EQ(recorder.control(setup, command), -EPIPE) << int{setup.type} << " " << setup.value;
  }
}

TEST(RecorderModel, OnlyTheRecordersLayoutIsAccepted) {
  const RecorderModel recorder({});
  EXPECT_EQ(recorder.set_configuration(1), 0);
  EXPECT_EQ(recorder.set_configuration(2), -EINVAL);
  EXPECT_EQ(recorder.claim_interface(0), 0);
  EXPECT_EQ(recorder.claim_interface(1), -ENOENT);
  EXPECT_EQ(recorder.clear_halt(0x01), 0);
  EXPECT_EQ(recorder.clear_halt(0x81), 0);
  EXPECT_EQ(recorder.clear_halt(0x02), -ENOENT);
}

TEST(RecorderModel, UnpluggedAtTheNthTransferFailsItAndEverythingAfter) {
  RecorderModel recorder({.unplug_at = 3});
  auto command = payload("3888888");
  std::array<std::uint8_t, 12> reply{};
  EXPECT_EQ(recorder.control(kOut, command), 18);
  EXPECT_EQ(recorder.control(kIn, reply), 12);
  EXPECT_FALSE(recorder.unplugged());
  EXPECT_EQ(recorder.control(kOut, command), -ENODEV);
  EXPECT_TRUE(recorder.unplugged());
  EXPECT_EQ(recorder.control(kIn, reply), -ENODEV);
  EXPECT_EQ(recorder.set_configuration(1), -ENODEV);
  EXPECT_EQ(recorder.refusal(), -ENODEV);
}

TEST(RecorderModel, DeniedRefusesEveryRequestWithEperm) {
  RecorderModel recorder({.unplug_at = std::nullopt, .denied = true});
  auto command = payload("3888888");
  EXPECT_EQ(recorder.refusal(), -EPERM);
  EXPECT_EQ(recorder.set_configuration(1), -EPERM);
  EXPECT_EQ(recorder.claim_interface(0), -EPERM);
  EXPECT_EQ(recorder.clear_halt(0x01), -EPERM);
  EXPECT_EQ(recorder.control(kOut, command), -EPERM);
}

TEST(RecorderModel, TheStateSetBeforehandIsWhatTheFirmwareChecks) {
  RecorderModel recorder({});
  recorder.state().admin_password = "654321";
  auto command = payload("3654321");
  recorder.control(kOut, command);
  std::array<std::uint8_t, 12> reply{};
  recorder.control(kIn, reply);
  EXPECT_EQ(reply[1], 1);
}

}  // namespace
}  // namespace kbc::emulated
