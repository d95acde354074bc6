#include <gtest/gtest.h>

#include "fake_port.h"
#include "link/commands.h"
#include "link/exchange.h"

namespace kbc::link {
namespace {

using testing::FakePort;
using testing::reply;
using testing::sent;

class ExchangeTest : public ::testing::Test {
 protected:
  static std::unique_ptr<DeviceHandle> open_recorder(FakePort& port) {
    port.devices_on_bus.resize(1);
    auto opened = port.open(port.devices()[0]);
    port.log.clear();
    return opened;
  }
  testing::FakeDevice& recorder() { return port.devices_on_bus[0]; }
  void answer(std::initializer_list<testing::Transfer> transfers) {
    recorder().transfers.assign(transfers);
  }
  const std::vector<std::uint8_t>& payload() { return port.controls.at(0).data; }

  FakePort port;
  std::unique_ptr<DeviceHandle> handle = open_recorder(port);
  Device device{*handle, port};
};

GbkText gbk(std::string_view s) {
  return GbkText::from_bytes(s);
}

TEST_F(ExchangeTest, SendsThePasswordZeroFilledThenReadsTwelveBytes) {
  answer({sent(18), reply(79, 1)});
  EXPECT_EQ(check_admin_psw(device, gbk("888888")), 246);

  ASSERT_EQ(port.controls.size(), 2u);
  const auto& out = port.controls[0];
  EXPECT_EQ(out.request_type, 0x40);
  EXPECT_EQ(out.request, 0x55);
  EXPECT_EQ(out.value, 0xAA);
  EXPECT_EQ(out.index, 0);
  EXPECT_EQ(out.timeout, 1000);
  std::vector<std::uint8_t> expected(18, 0);
  std::string_view text = "3888888";
  std::copy(text.begin(), text.end(), expected.begin());
  EXPECT_EQ(out.data, expected);

  const auto& in = port.controls[1];
  EXPECT_EQ(in.request_type, 0xC0);
  EXPECT_EQ(in.request, 0x55);
  EXPECT_EQ(in.value, 0xAA);
  EXPECT_EQ(in.index, 0);
  EXPECT_EQ(in.timeout, 1000);
  EXPECT_EQ(in.data, std::vector<std::uint8_t>(12, 0)) << "the reply buffer starts zeroed";
  EXPECT_EQ(port.log, (std::vector<std::string>{"pause 100", "out", "in"}));
}

TEST_F(ExchangeTest, ACommandWithoutArgumentIsItsLetterAndSeventeenZeros) {
  answer({sent(18), reply(21, 1)});
  EXPECT_EQ(clear_all_files(device), 150);
  std::vector<std::uint8_t> expected(18, 0);
  expected[0] = 'N';
  EXPECT_EQ(payload(), expected);
}

TEST_F(ExchangeTest, AnArgumentTooLongIsCutToThePayload) {
  answer({sent(18), reply(84, 1, 128)});
  get_device_info(device, gbk("ABCDEFGHIJKLMNOPQRSTUVWXYZ"));
  ASSERT_EQ(payload().size(), 18u);
  EXPECT_EQ(std::string(payload().begin(), payload().end()), "}ABCDEFGHIJKLMNOPQ");
}

TEST_F(ExchangeTest, TimeTextForTheFifthOfMarch2024) {
  answer({sent(18), reply(4, 1)});
  EXPECT_EQ(set_time(device, {2024, 3, 5, 7, 8, 9}), 132);
  EXPECT_EQ(std::string(payload().begin(), payload().begin() + 16), "620240305070809\n");
  EXPECT_EQ(payload()[16], 0);
  EXPECT_EQ(time_text({2024, 12, 31, 23, 59, 58}), "20241231235958\n");
}

struct ReplyCase {
  const char* what;
  std::vector<testing::Transfer> transfers;
  Status expected;
  std::size_t controls;
};

class CheckAdminReplies : public ExchangeTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(CheckAdminReplies, GiveTheStatus) {
  const ReplyCase& c = GetParam();
  recorder().transfers.assign(c.transfers.begin(), c.transfers.end());
  EXPECT_EQ(check_admin_psw(device, gbk("888888")), c.expected);
  EXPECT_EQ(port.controls.size(), c.controls);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, CheckAdminReplies,
    ::testing::Values(ReplyCase{"carried out", {sent(18), reply(79, 1)}, 246, 2},
                      ReplyCase{"outcome 0", {sent(18), reply(79, 0)}, 247, 2},
                      ReplyCase{"outcome 2", {sent(18), reply(79, 2)}, 247, 2},
                      ReplyCase{"another command's code", {sent(18), reply(4, 1)}, 247, 2},
                      ReplyCase{"short reply", {sent(18), reply(79, 1, 11)}, 247, 2},
                      ReplyCase{"reply error", {sent(18), {-5, {}}}, 247, 2},
                      ReplyCase{"reply time-out", {sent(18), {-110, {}}}, 247, 2},
                      ReplyCase{"short command: no reply asked", {sent(17)}, 247, 1},
                      ReplyCase{"command error: no reply asked", {{-19, {}}}, 247, 1},
                      ReplyCase{"command time-out", {{-110, {}}}, 247, 1}),
    [](const auto& info) {
      std::string name = info.param.what;
      for (char& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) {
          ch = '_';
        }
      }
      return name;
    });

TEST_F(ExchangeTest, MotionOnTellsARefusalFromAFailure) {
  answer({sent(18), reply(81, 1), sent(18), reply(81, 2), sent(18), reply(81, 3), sent(18),
          reply(82, 2)});
  EXPECT_EQ(set_motion_on(device), 248);
  EXPECT_EQ(set_motion_on(device), 249);
  EXPECT_EQ(set_motion_on(device), 250);
  EXPECT_EQ(set_motion_on(device), 250) << "reply code of another command";
}

TEST_F(ExchangeTest, MotionOffHasNoRefusal) {
  answer({sent(18), reply(82, 2)});
  EXPECT_EQ(set_motion_off(device), 252);
}

TEST_F(ExchangeTest, MassStorageLooksOnlyAtTheTransfers) {
  answer({sent(18), reply(0xEE, 0x77), sent(18), reply(0, 1, 11), {-110, {}}});
  EXPECT_TRUE(switch_msdc(device, gbk("000000"))) << "an odd reply still completes";
  EXPECT_FALSE(switch_msdc(device, gbk("000000"))) << "a short reply does not";
  EXPECT_FALSE(switch_msdc(device, gbk("000000"))) << "nor a command that did not go out";
  EXPECT_EQ(std::string(payload().begin(), payload().begin() + 7), "2000000");
}

TEST_F(ExchangeTest, DeviceInfoNeedsTheWhole128Bytes) {
  testing::Transfer full = reply(84, 1, 128);
  full.reply[2] = 'K';
  answer({sent(18), full, sent(18), reply(84, 1, 127)});
  const DeviceInfo good = get_device_info(device, gbk("x"));
  EXPECT_EQ(good.status, 255);
  EXPECT_EQ(good.reply[2], 'K');
  EXPECT_EQ(port.controls[1].data.size(), 128u);
  EXPECT_EQ(get_device_info(device, gbk("x")).status, 256);
}

TEST_F(ExchangeTest, SerialNumberTextEndsAtTheFirstZero) {
  testing::Transfer r = reply(16, 1);
  const std::string_view text = "KBC0001";
  std::copy(text.begin(), text.end(), r.reply.begin() + 2);
  testing::Transfer full = reply(16, 1);
  std::fill(full.reply.begin() + 2, full.reply.end(), 'A');
  answer({sent(18), r, sent(18), full, sent(18), reply(16, 0)});
  EXPECT_EQ(get_sn(device).text.bytes(), "KBC0001");
  EXPECT_EQ(get_sn(device).text.bytes(), "AAAAAAAAAA") << "all ten data bytes";
  const SerialNumber failed = get_sn(device);
  EXPECT_EQ(failed.status, 177);
  EXPECT_TRUE(failed.text.empty());
}

TEST_F(ExchangeTest, VoicePromptOnAndOffShareTheLetterNotTheStatuses) {
  answer({sent(18), reply(61, 1), sent(18), reply(61, 1), sent(18), reply(61, 0), sent(18),
          reply(61, 0)});
  EXPECT_EQ(set_voice_prompt(device, true), 267);
  EXPECT_EQ(set_voice_prompt(device, false), 269);
  EXPECT_EQ(set_voice_prompt(device, true), 268);
  EXPECT_EQ(set_voice_prompt(device, false), 270);
  EXPECT_EQ(std::string(port.controls[0].data.begin(), port.controls[0].data.begin() + 3),
            std::string("]1\0", 3));
  EXPECT_EQ(std::string(port.controls[2].data.begin(), port.controls[2].data.begin() + 3),
            std::string("]0\0", 3));
}

TEST_F(ExchangeTest, IdentityAndOfficerPayloadLengths) {
  answer({sent(128), reply(83, 1), sent(32), reply(13, 1)});
  IdentityRecord record;
  EXPECT_EQ(set_identity(device, record), 253);
  EXPECT_EQ(set_officer_info(device, gbk("KBC000100-000001")), 146);
  const auto& identity = port.controls[0].data;
  ASSERT_EQ(identity.size(), 128u);
  EXPECT_EQ(identity[0], '{');
  EXPECT_EQ(std::count(identity.begin() + 1, identity.begin() + 90, '='), 89);
  EXPECT_TRUE(std::all_of(identity.begin() + 90, identity.end(), [](auto b) { return b == 0; }));
  const auto& officer = port.controls[2].data;
  ASSERT_EQ(officer.size(), 32u);
  EXPECT_EQ(std::string(officer.begin(), officer.begin() + 18),
            std::string("FKBC000100-000001\0", 18));
}

TEST_F(ExchangeTest, EveryCommandPausesOnceBeforeItsRequest) {
  for (const CommandSpec& c : kCommands) {
    port.log.clear();
    run(device, c.cmd);
    SCOPED_TRACE(c.name);
    EXPECT_EQ(port.log.at(0), "pause 100");
    EXPECT_EQ(std::count(port.log.begin(), port.log.end(), "pause 100"), 1);
  }
}

}  // namespace
}  // namespace kbc::link
