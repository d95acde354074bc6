#include "sim/sim_bus.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string_view>
#include <thread>

#include "link/command_table.h"
#include "link/commands.h"
#include "link/gbk.h"
#include "link/recorders.h"

namespace kbc::sim {
namespace {

using link::Cmd;
using Bytes = std::vector<std::uint8_t>;
using Kind = WireEvent::Kind;

Bytes command(char letter, std::string_view argument = {}) {
  Bytes bytes(18, 0);
  bytes[0] = static_cast<std::uint8_t>(letter);
  std::copy(argument.begin(), argument.end(), bytes.begin() + 1);
  return bytes;
}

int send(link::DeviceHandle& handle, Bytes payload) {
  return handle.control_msg(link::kRequestOut, link::kRequest, link::kValue, link::kIndex, payload,
                            link::kTransferTimeoutMs);
}

struct Reply {
  int result;
  Bytes bytes;
};

Reply receive(link::DeviceHandle& handle, std::size_t length = 12) {
  Reply reply{0, Bytes(length, 0)};
  reply.result = handle.control_msg(link::kRequestIn, link::kRequest, link::kValue, link::kIndex,
                                    reply.bytes, link::kTransferTimeoutMs);
  return reply;
}

std::unique_ptr<link::DeviceHandle> open_at(SimBus& bus, const std::string& location) {
  for (const link::UsbDevice& device : bus.devices()) {
    if (device.location() == location) {
      return bus.open(device);
    }
  }
  return nullptr;
}

std::unique_ptr<link::DeviceHandle> open_recorder(SimBus& bus, std::size_t i = 0) {
  return open_at(bus, bus.recorder(i).location());
}

std::uint8_t code_of(Cmd cmd) {
  return link::spec(cmd).reply_code.value();
}

TEST(SimBus, ListsTheDevicesInTheOrderAddedAndAnUnpluggedOneKeepsItsPlace) {
  SimBus sim;
  sim.add_other_device(0x1d6b);
  SimRecorder& a = sim.add_recorder();
  sim.add_unopenable_recorder();
  SimRecorder& b = sim.add_recorder("B");
  const auto devices = sim.devices();
  ASSERT_EQ(devices.size(), 4u);
  const std::pair<std::string, std::uint16_t> expected[] = {{"001", 0x1d6b},
                                                            {"002", link::kRecorderVendor},
                                                            {"003", link::kRecorderVendor},
                                                            {"004", link::kRecorderVendor}};
  for (std::size_t i = 0; i < devices.size(); ++i) {
    EXPECT_EQ(devices[i].bus, "001");
    EXPECT_EQ(devices[i].filename, expected[i].first);
    EXPECT_EQ(devices[i].vendor, expected[i].second);
    EXPECT_EQ(devices[i].index, i);
  }
  EXPECT_EQ(a.location(), "001/002");
  EXPECT_EQ(b.location(), "001/004");
  a.unplug();
  const auto left = sim.devices();
  ASSERT_EQ(left.size(), 3u);
  EXPECT_EQ(left[2].location(), "001/004");
  EXPECT_FALSE(a.present());
  a.reconnect();
  EXPECT_EQ(sim.devices().size(), 4u);
}

TEST(SimBus, UnopenableDeviceGivesNoHandleAndLogsTheFailure) {
  SimBus sim;
  sim.add_unopenable_recorder();
  EXPECT_EQ(sim.open(sim.devices().front()), nullptr);
  ASSERT_FALSE(sim.wire().empty());
  EXPECT_EQ(sim.wire().back().kind, Kind::open);
  EXPECT_EQ(sim.wire().back().device, "001/001");
  EXPECT_EQ(sim.wire().back().result, -1);
  EXPECT_EQ(sim.open_handles(), 0);
}

TEST(SimBus, OtherDevicesTakeCallsButStallTheVendorRequest) {
  SimBus sim;
  sim.add_other_device(0x0781);
  SimRecorder& recorder = sim.add_recorder();
  recorder.fail_configuration(-32);
  auto handle = sim.open(sim.devices().front());
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle->set_configuration(1), 0);
  EXPECT_EQ(handle->claim_interface(0), 0);
  EXPECT_EQ(handle->clear_halt(0x81), 0);
  EXPECT_EQ(send(*handle, command('N')), -EPIPE);
  EXPECT_EQ(receive(*handle).result, -EPIPE);
  EXPECT_EQ(recorder.state().erase_count, 0);
}

TEST(SimBus, EveryHandleLogsItsClose) {
  SimBus sim;
  sim.add_other_device(0x0781);
  sim.add_recorder();
  auto other = sim.open(sim.devices().front());
  auto recorder = open_recorder(sim);
  EXPECT_EQ(sim.open_handles(), 2);
  other.reset();
  EXPECT_EQ(sim.open_handles(), 1);
  EXPECT_EQ(sim.wire().back().kind, Kind::close);
  EXPECT_EQ(sim.wire().back().device, "001/001");
  recorder.reset();
  EXPECT_EQ(sim.open_handles(), 0);
  EXPECT_EQ(sim.wire().back().device, "001/002");
}

TEST(SimBus, ACommandReachesTheFirmwareAndItsReplyIsReadOnce) {
  SimBus sim;
  SimRecorder& recorder = sim.add_recorder();
  auto handle = open_recorder(sim);
  EXPECT_EQ(receive(*handle).result, -ETIMEDOUT);  // nothing asked yet
  sim.clear_wire();

  const Bytes payload = command('3', "888888");
  EXPECT_EQ(send(*handle, payload), 18);
  const Reply reply = receive(*handle);
  ASSERT_EQ(reply.result, 12);
  EXPECT_EQ(reply.bytes[0], code_of(Cmd::check_admin_psw));
  EXPECT_EQ(reply.bytes[1], 1);
  EXPECT_EQ(receive(*handle).result, -ETIMEDOUT);

  ASSERT_EQ(sim.wire().size(), 3u);
  const WireEvent& out = sim.wire()[0];
  EXPECT_EQ(out.kind, Kind::control);
  EXPECT_EQ(out.device, "001/001");
  EXPECT_EQ(out.request_type, link::kRequestOut);
  EXPECT_EQ(out.request, link::kRequest);
  EXPECT_EQ(out.value, link::kValue);
  EXPECT_EQ(out.index, link::kIndex);
  EXPECT_EQ(out.length, 18);
  EXPECT_EQ(out.timeout, link::kTransferTimeoutMs);
  EXPECT_EQ(out.data, payload);
  EXPECT_EQ(out.result, 18);
  EXPECT_EQ(sim.wire()[1].data, reply.bytes);
  EXPECT_EQ(sim.payloads(), std::vector<Bytes>{payload});
  EXPECT_EQ(recorder.payloads(), std::vector<Bytes>{payload});
  EXPECT_EQ(recorder.letters(), "3");
}

TEST(SimRecorder, OtherSetupsStallWithoutReachingTheFirmware) {
  struct Setup {
    int request_type, request, value, index;
  };
  const Setup setups[] = {
      {0x40, 0x54, 0xAA, 0}, {0x40, 0x55, 0xAB, 0}, {0x40, 0x55, 0xAA, 1}, {0x41, 0x55, 0xAA, 0}};
  for (const auto& s : setups) {
    SimBus sim(1);
    auto handle = open_recorder(sim);
    Bytes payload = command('N');
    EXPECT_EQ(handle->control_msg(s.request_type, s.request, s.value, s.index, payload, 1000),
              -EPIPE);
    EXPECT_EQ(sim.recorder().state().erase_count, 0);
  }
}

struct FaultCase {
  std::string_view name;
  Fault fault;
  int out_result;
  std::size_t sent;  // payload bytes logged: what the host handed over, short or not
  bool carried_out;
  int in_result;
  std::uint8_t code = 0, outcome = 0;  // of the reply, when one came back
};

TEST(SimRecorder, FaultsApplyOnceAtTheirStage) {
  using F = Fault::Kind;
  using S = Fault::Stage;
  const std::uint8_t code = code_of(Cmd::clear_all_files);
  const FaultCase cases[] = {
      {"out error", {.kind = F::error, .stage = S::out, .code = -32}, -32, 18, false, -ETIMEDOUT},
      {"out timeout", {.kind = F::timeout, .stage = S::out}, -ETIMEDOUT, 18, false, -ETIMEDOUT},
      {"out short",
       {.kind = F::short_transfer, .stage = S::out, .length = 5},
       5,
       5,
       false,
       -ETIMEDOUT},
      {"in error", {.kind = F::error, .stage = S::in, .code = -71}, 18, 18, true, -71},
      {"in timeout", {.kind = F::timeout, .stage = S::in}, 18, 18, true, -ETIMEDOUT},
      {"in short", {.kind = F::short_transfer, .length = 4}, 18, 18, true, 4, code, 1},
      {"reply code", {.kind = F::reply_code, .value = 4}, 18, 18, true, 12, 4, 1},
      {"outcome", {.kind = F::outcome, .value = 0}, 18, 18, true, 12, code, 0},
  };
  for (const auto& c : cases) {
    SimBus sim;
    SimRecorder& recorder = sim.add_recorder();
    auto handle = open_recorder(sim);
    recorder.inject(c.fault);
    EXPECT_EQ(send(*handle, command('N')), c.out_result) << c.name;
    EXPECT_EQ(recorder.state().erase_count, c.carried_out ? 1 : 0) << c.name;
    EXPECT_EQ(sim.payloads().back().size(), c.sent) << c.name;
    const Reply reply = receive(*handle);
    EXPECT_EQ(reply.result, c.in_result) << c.name;
    if (reply.result > 0) {
      EXPECT_EQ(reply.bytes[0], c.code) << c.name;
      EXPECT_EQ(reply.bytes[1], c.outcome) << c.name;
      EXPECT_EQ(sim.wire().back().data.size(), static_cast<std::size_t>(reply.result)) << c.name;
    }

    EXPECT_EQ(send(*handle, command('N')), 18) << c.name << ": fault not used up";
    EXPECT_EQ(receive(*handle).result, 12) << c.name << ": fault not used up";
  }
}

TEST(SimRecorder, AFaultWaitsForItsLetterAndOccurrence) {
  SimBus sim;
  SimRecorder& recorder = sim.add_recorder();
  auto handle = open_recorder(sim);
  recorder.inject({.kind = Fault::Kind::error, .letter = 'N', .occurrence = 2});
  const std::pair<char, int> steps[] = {{'N', 12}, {'J', 12}, {'N', -5}, {'N', 12}};
  for (const auto& [letter, in_result] : steps) {
    EXPECT_EQ(send(*handle, command(letter)), 18);
    EXPECT_EQ(receive(*handle).result, in_result);
  }
  EXPECT_EQ(recorder.letters(), "NJNN");
}

TEST(SimRecorder, UnplugAtTransferDropsTheRecorderUntilReconnected) {
  SimBus sim;
  SimRecorder& recorder = sim.add_recorder();
  auto old_handle = open_recorder(sim);
  recorder.unplug_at_transfer(3);
  EXPECT_EQ(send(*old_handle, command('J')), 18);
  EXPECT_EQ(receive(*old_handle).result, 12);
  EXPECT_EQ(send(*old_handle, command('J')), -ENODEV);
  EXPECT_EQ(receive(*old_handle).result, -ENODEV);
  EXPECT_EQ(old_handle->set_configuration(1), -ENODEV);
  EXPECT_TRUE(sim.devices().empty());

  recorder.reconnect();
  ASSERT_EQ(sim.devices().size(), 1u);
  EXPECT_EQ(send(*old_handle, command('J')), -ENODEV);
  auto handle = open_recorder(sim);
  EXPECT_EQ(handle->set_configuration(1), 0);
  EXPECT_EQ(send(*handle, command('J')), 18);
  EXPECT_EQ(receive(*handle).result, 12);
}

TEST(SimBus, TellsOfEachRecorderThatArrivesOrLeavesAsAHubWould) {
  SimBus sim;
  SimRecorder& a = sim.add_recorder();
  std::vector<std::string> told;
  sim.set_hotplug_listener([&](const std::string& location, bool arrived) {
    told.push_back(location + (arrived ? "+" : "-"));
  });
  SimRecorder& b = sim.add_recorder("B");
  sim.add_other_device(0x046d);
  a.unplug();
  a.unplug();  // gone already: nothing to tell
  a.reconnect();
  b.reconnect();  // out and in again
  b.unplug_at_transfer(1);
  auto handle = open_recorder(sim, 1);
  EXPECT_EQ(send(*handle, command('J')), -ENODEV);
  EXPECT_EQ(told, (std::vector<std::string>{"001/002+", "001/001-", "001/001+", "001/002-",
                                            "001/002+", "001/002-"}));
  sim.set_hotplug_listener({});
  a.unplug();
  EXPECT_EQ(told.size(), 6u);
}

TEST(SimRecorder, MassStorageAnswersNothingUntilReconnected) {
  SimBus sim;
  SimRecorder& recorder = sim.add_recorder();
  {
    auto handle = open_recorder(sim);
    EXPECT_EQ(send(*handle, command('2', "888888")), 18);
    EXPECT_EQ(receive(*handle).result, 12);
    EXPECT_EQ(send(*handle, command('3', "888888")), 18);
    EXPECT_EQ(receive(*handle).result, -ETIMEDOUT);
  }
  recorder.reconnect();
  EXPECT_FALSE(recorder.state().mass_storage);
  auto handle = open_recorder(sim);
  EXPECT_EQ(send(*handle, command('3', "888888")), 18);
  const Reply reply = receive(*handle);
  EXPECT_EQ(reply.result, 12);
  EXPECT_EQ(reply.bytes[1], 1);
}

TEST(SimRecorder, ConfigurationFailsOnRequestAndIsLogged) {
  SimBus sim;
  SimRecorder& recorder = sim.add_recorder();
  auto handle = open_recorder(sim);
  recorder.fail_configuration(-16);
  EXPECT_EQ(handle->set_configuration(1), -16);
  EXPECT_EQ(sim.wire().back().kind, Kind::set_configuration);
  EXPECT_EQ(sim.wire().back().value, 1);
  EXPECT_EQ(sim.wire().back().result, -16);
  recorder.fail_configuration(0);
  EXPECT_EQ(handle->set_configuration(1), 0);
}

TEST(SimBus, PausesAreLoggedNotSlept) {
  SimBus sim;
  sim.pause(std::chrono::minutes(10));
  ASSERT_EQ(sim.wire().size(), 1u);
  EXPECT_EQ(sim.wire().back().kind, Kind::pause);
  EXPECT_EQ(sim.wire().back().milliseconds, 600000);
}

TEST(SimBus, TheLinkFindsTheRecorderBehindOtherDevicesAndClosesIt) {
  SimBus sim;
  sim.add_other_device(0x1d6b);
  sim.add_other_device(0x8087, false);
  SimRecorder& recorder = sim.add_recorder();
  auto link = sim.link();
  {
    auto session = link::Session::open(link);
    ASSERT_TRUE(session.ready());
    EXPECT_EQ(link::check_admin_psw(session.device(), link::GbkText::from_bytes("888888")),
              link::spec(Cmd::check_admin_psw).statuses.ok);
    EXPECT_EQ(link::set_video_720p30(session.device()),
              link::spec(Cmd::set_video_720p30).statuses.ok);
  }
  EXPECT_EQ(sim.letters(), "3M");
  EXPECT_EQ(recorder.state().video, "set_video_720p30");
  EXPECT_EQ(sim.open_handles(), 0);
}

TEST(SimBus, EachRecorderHasItsOwnSerialStateAndFaults) {
  SimBus sim(2);
  SimRecorder& a = sim.recorder(0);
  SimRecorder& b = sim.recorder(1);
  EXPECT_EQ(a.state().sn_text, "KBC0001");
  EXPECT_EQ(b.state().sn_text, "KBC0002");
  EXPECT_EQ(b.state().identity.field(link::IdentityField::serial_number).bytes(), "KBC0002");

  a.inject({.kind = Fault::Kind::error, .stage = Fault::Stage::out});
  b.state().admin_password = "123456";
  auto to_a = open_recorder(sim, 0);
  auto to_b = open_recorder(sim, 1);
  EXPECT_EQ(send(*to_b, command('3', "123456")), 18);
  EXPECT_EQ(receive(*to_b).bytes[1], 1) << "A's fault is not B's";
  EXPECT_EQ(send(*to_a, command('3', "123456")), -5);
  EXPECT_EQ(send(*to_a, command('3', "888888")), 18);
  EXPECT_EQ(receive(*to_a).bytes[1], 1);

  a.unplug();
  EXPECT_EQ(send(*to_a, command('N')), -ENODEV);
  EXPECT_EQ(send(*to_b, command('N')), 18);
  EXPECT_EQ(b.state().erase_count, 1);
  EXPECT_EQ(a.state().erase_count, 0);
  EXPECT_EQ(a.letters(), "33N");
  EXPECT_EQ(b.letters(), "3N");
  EXPECT_EQ(sim.letters_by_device(),
            (std::map<std::string, std::string>{{a.location(), "33N"}, {b.location(), "3N"}}));
}

// One thread per recorder after one scan, as a drawer is served: each recorder gets exactly its
// own commands in order, whatever the others do meanwhile.
TEST(SimBus, TransfersToDifferentRecordersFromDifferentThreadsAtOnce) {
  constexpr std::size_t kRecorders = 8;
  constexpr int kRounds = 200;
  SimBus sim;
  for (std::size_t i = 0; i < kRecorders; ++i) {
    sim.add_other_device(0x046d);
    sim.add_recorder();
  }
  link::Link link = sim.link();
  const std::vector<link::UsbDevice> listed = link::scan_recorders(link);
  ASSERT_EQ(listed.size(), kRecorders);

  std::vector<int> matched(kRecorders, 0);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < kRecorders; ++i) {
    threads.emplace_back([&, i] {
      link::Link own = sim.link();
      link::Session session = link::Session::open_listed(own, listed[i]);
      if (!session.ready()) {
        return;
      }
      for (int round = 0; round < kRounds; ++round) {
        const auto status =
            link::check_admin_psw(session.device(), link::GbkText::from_bytes("888888"));
        matched[i] += status == link::spec(Cmd::check_admin_psw).statuses.ok;
        link::set_video_720p30(session.device());
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  std::string expected;
  for (int round = 0; round < kRounds; ++round) {
    expected += "3M";
  }
  for (std::size_t i = 0; i < kRecorders; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(matched[i], kRounds);
    EXPECT_EQ(sim.recorder(i).letters(), expected);
    EXPECT_EQ(sim.recorder(i).state().video, "set_video_720p30");
  }
  EXPECT_EQ(sim.open_handles(), 0);
}

}  // namespace
}  // namespace kbc::sim
