// The station service on the simulated bus with the simulated recorders' own disks: a drawer
// taken through to verified bags, every entry naming its port, nothing erased; and a service
// stopped while it copies, whose next run keeps what was stored and finishes the bag.
#include <gtest/gtest.h>

#include <atomic>
#include <set>

#include "console/station_messages.h"
#include "offload/sim_disk_watch.h"
#include "recorder_disk.h"
#include "sim/sim_bus.h"
#include "station/station.h"

namespace kbc::station {
namespace {

namespace fs = std::filesystem;

class KeptTrail final : public console::AuditTrail {
 public:
  bool writable() override { return true; }
  void write(const console::AuditEntry& entry) override {
    const std::lock_guard lock(mutex_);
    entries.push_back(entry);
  }
  std::vector<console::AuditEntry> entries;

 private:
  std::mutex mutex_;
};

std::string field(const console::AuditEntry& entry, std::string_view name) {
  for (const auto& [key, value] : entry.fields) {
    if (key == name) {
      return value;
    }
  }
  return "(none)";
}

// The store's writes, which ask the service to stop once `stop_after` of them went through.
class CuttingIo final : public evidence::StoreIo {
 public:
  ssize_t write(int fd, std::span<const std::byte> bytes) override {
    if (++writes == stop_after) {
      stop.request_stop();
    }
    return StoreIo::write(fd, bytes);
  }
  std::atomic<int> writes{0};
  int stop_after = 0;  // 0: never
  std::stop_source stop;
};

class StationOnSimulatedBus : public ::testing::Test {
 protected:
  std::vector<Served> serve(CuttingIo& io) {
    offload::OffloadSettings offloads{evidence::Store(scratch_ / "store"), "station test"};
    offloads.watch = &watch_;
    offloads.trail = &trail_;
    offloads.io = &io;
    auto opened = Board::open(scratch_ / "state");
    EXPECT_TRUE(std::holds_alternative<Board>(opened));
    StationSettings settings{offloads,
                             &keys_,
                             std::nullopt,
                             25,
                             &clock_,
                             {},
                             nullptr,
                             std::chrono::hours(24),
                             &std::get<Board>(opened),
                             ""};
    SimArrivals arrivals(bus_);
    Station station(bus_, bus_, arrivals, settings);
    return station.run_once(io.stop.get_token());
  }

  evidence::testing::Scratch scratch_;
  sim::SimBus bus_{2};
  offload::SimDiskWatch watch_{bus_, scratch_ / "disks"};
  RecorderKeys keys_{link::Secret("888888"), {}};
  console::SystemClock clock_;
  KeptTrail trail_;
};

TEST_F(StationOnSimulatedBus, ADrawerEndsInVerifiedBagsEveryEntryNamingItsPortAndNoneIsErased) {
  CuttingIo io;
  const std::vector<Served> served = serve(io);
  ASSERT_EQ(served.size(), 2u);
  for (const Served& one : served) {
    EXPECT_EQ(one.slot.stage, SlotStage::verified) << one.slot.result;
    EXPECT_EQ(one.slot.files_done, 7u);
    EXPECT_EQ(one.slot.officer, "000001 张三");
  }
  // What the window and kbcctl read says the same.
  const Drawer drawer = read_drawer(scratch_ / "state");
  EXPECT_FALSE(drawer.running);
  ASSERT_EQ(drawer.docked.size(), 2u);
  EXPECT_EQ(drawer.docked[1].port, "sim:001/002");
  EXPECT_EQ(drawer.docked[1].stage, SlotStage::verified);

  std::set<std::string> actions;
  for (const console::AuditEntry& entry : trail_.entries) {
    actions.insert(std::string(entry.action));
    EXPECT_EQ(field(entry, "KBC_PORT"), "sim:" + entry.location) << entry.action;
  }
  EXPECT_EQ(actions, (std::set<std::string>{"station-dock", "station-verify", "offload",
                                            "offload-file", "offload-bag", "station-end"}));
  for (const auto& [location, letters] : bus_.letters_by_device()) {
    EXPECT_EQ(letters.find('N'), std::string::npos) << location << ": " << letters;
  }
}

TEST_F(StationOnSimulatedBus, AServiceStoppedWhileItCopiesLosesNothingAndTheNextRunFinishes) {
  CuttingIo cut;
  cut.stop_after = 3;
  // The one copying keeps its unfinished bag; one the stop found still waiting says so.
  std::size_t left_partial = 0;
  for (const Served& one : serve(cut)) {
    EXPECT_EQ(one.slot.stage, SlotStage::failed) << one.slot.result;
    const bool partial = one.slot.result.find(".partial") != std::string::npos;
    left_partial += partial;
    EXPECT_TRUE(partial || one.slot.result == console::msg::slot_stopped) << one.slot.result;
  }
  EXPECT_GE(left_partial, 1u);
  // Plugged in again, as after a restart of the station.
  for (std::size_t i = 0; i < bus_.recorder_count(); ++i) {
    bus_.recorder(i).reconnect();
  }
  CuttingIo whole;
  std::uint64_t kept = 0;
  for (const Served& one : serve(whole)) {
    EXPECT_EQ(one.slot.stage, SlotStage::verified) << one.slot.result;
    kept += one.slot.result.find("沿用上次未完成的导出") != std::string::npos;
  }
  EXPECT_GE(kept, 1u) << "no run kept what the stopped one had stored";
  std::size_t partial = 0;
  for (const auto& entry : fs::recursive_directory_iterator(scratch_ / "store")) {
    partial += entry.path().extension() == ".partial";
  }
  EXPECT_EQ(partial, 0u);
}

}  // namespace
}  // namespace kbc::station
