// kbcctl station --once through the real libusb 0.1 and udev on the emulated bus: a drawer of
// recorders, each with its key, verified, offloaded onto its disk and published; a wrong key, a
// recorder whose disk never comes and a cable pulled end only that recorder's run. The service
// never sends the erase.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "command_wire.h"
#include "emulated_run.h"
#include "recorder_disk.h"

namespace kbc::emulated {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

// A value of a flat JSON object line: the text between the key's quotes, or up to the next comma.
std::string json_value(const std::string& line, const std::string& key) {
  const std::string tag = "\"" + key + "\":";
  const std::size_t at = line.find(tag);
  if (at == std::string::npos) {
    return {};
  }
  const std::size_t start = at + tag.size();
  if (line[start] == '"') {
    return line.substr(start + 1, line.find('"', start + 1) - start - 1);
  }
  return line.substr(start, line.find_first_of(",}", start) - start);
}

struct StationCase {
  const char* name;
  std::vector<std::string> bus;  // the bus's options
  std::string keys;              // the recorder keys file
  std::string disk_timeout;
  int status;
  // Per serial: the stage its slot ended in, and a part of its result.
  std::vector<std::tuple<std::string, std::string, std::string>> ends;
};

class StationOnTheBus : public BusTest, public ::testing::WithParamInterface<StationCase> {};

TEST_P(StationOnTheBus, EachRecorderEndsInItsOwnSlotAndNoneIsErased) {
  const StationCase& row = GetParam();
  const fs::path disk = scratch_.file("recorder.img");
  evidence::testing::make_fat32(
      disk, {{"DCIM/100MEDIA/执法记录 0001.MP4", evidence::testing::pattern(700 * 1024, 3)},
             {"PHOTO/IMG0001.JPG", "a photo"}});
  const std::string keys = scratch_.file("recorders.toml");
  std::ofstream(keys) << row.keys;
  ::chmod(keys.c_str(), 0600);
  const std::string station = scratch_.file("station.toml");
  std::ofstream(station) << "store = \"" << scratch_.file("store") << "\"\nrecorder-keys = \""
                         << keys << "\"\ndisk-timeout = \"" << row.disk_timeout << "\"\n";
  std::vector<std::string> bus = row.bus;
  for (std::string& option : bus) {
    option = option == "DISK" ? disk.string() : option;
  }
  const std::vector<std::string> env{"env", "KBC_STATION_FILE=" + station,
                                     "KBC_STATION_STATE=" + scratch_.file("state"), KBC_KBCCTL};
  bus.push_back("--");
  bus.insert(bus.end(), env.begin(), env.end());
  for (const char* arg :
       {"--json", "station", "--once", "--then", "sh", "-c", "\"$@\" || true", "-"}) {
    bus.emplace_back(arg);
  }
  // The status's own exit says the service is not running; the run's status is the station's.
  bus.insert(bus.end(), env.begin(), env.end());
  for (const char* arg : {"--json", "station", "--status"}) {
    bus.emplace_back(arg);
  }
  const BusRun run = run_recorded(bus);
  std::vector<std::string> out = lines(run.output);
  ASSERT_EQ(out.size(), row.ends.size() + 1) << run.output << run.errors;
  // The receipts come as each recorder ends; the status last.
  const std::string status = out.back();
  out.pop_back();
  for (const auto& [serial, stage, result] : row.ends) {
    const auto line = std::ranges::find_if(
        out, [&](const std::string& one) { return json_value(one, "serial") == serial; });
    ASSERT_NE(line, out.end()) << serial << "\n" << run.output;
    EXPECT_EQ(json_value(*line, "stage"), stage) << *line;
    EXPECT_THAT(json_value(*line, "result"), HasSubstr(result)) << *line;
    // The drawer as the window and --status read it says the same.
    if (serial != "null") {
      EXPECT_THAT(status, HasSubstr("\"serial\":\"" + serial + "\"")) << status;
    }
  }
  EXPECT_THAT(status, HasSubstr("\"running\":false"));
  const Wire sent = wire();
  EXPECT_FALSE(sent.controls.empty());
  for (const ControlLine& control : sent.controls) {
    EXPECT_FALSE(control.type == 0x40 && !control.data.empty() && control.data[0] == 'N')
        << control.node << " was sent the erase";
  }
  // 0 only when every recorder was verified; the status after it is 0 then too, as no slot
  // needs attention once every recorder's offload is fresh.
  EXPECT_EQ(run.status, row.status) << run.errors;
}

const std::string kDefault = "default = \"888888\"\n";

INSTANTIATE_TEST_SUITE_P(
    Drawer, StationOnTheBus,
    ::testing::Values(
        StationCase{"ThreeRecordersEachVerified",
                    {"--bus", "recorder,mouse,recorder=KBC0002,recorder=KBC0003", "--disk", "DISK"},
                    kDefault,
                    "30s",
                    0,
                    {{"KBC0001", "verified", "导出已验证"},
                     {"KBC0002", "verified", "导出已验证"},
                     {"KBC0003", "verified", "导出已验证"}}},
        StationCase{"AWrongDefaultAndARecordersOwnKey",
                    {"--bus", "recorder,recorder=KBC0002", "--disk", "DISK"},
                    "default = \"123456\"\n[serials]\nKBC0002 = \"888888\"\n",
                    "30s",
                    1,
                    {{"KBC0001", "failed", "密码错误!"}, {"KBC0002", "verified", "导出已验证"}}},
        StationCase{"NoDiskComes",
                    {"--bus", "recorder"},
                    kDefault,
                    "1s",
                    1,
                    {{"KBC0001", "failed", "没有出现在它的USB端口"}}},
        StationCase{"TheCableIsPulledAsItIsAskedItsSerial",
                    {"--bus", "recorder,recorder=KBC0002", "--disk", "DISK", "--unplug-at", "2"},
                    kDefault,
                    "30s",
                    1,
                    {{"null", "failed", "无法读取记录仪的序列号"},
                     {"null", "failed", "无法读取记录仪的序列号"}}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kbc::emulated
