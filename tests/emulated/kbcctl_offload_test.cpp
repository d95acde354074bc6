// kbcctl offload through the real libusb 0.1 and udev on the emulated bus: the recorder switched,
// its disk (a real FAT32 image, or Debian's exFAT sample in a partition) arriving on the same
// port while a stray flash disk arrives on another, the bag verified, and an erase the station's
// rule refuses before the offload and lets through after it. Then an offload killed while it
// copies, finished by the next one.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "command_wire.h"
#include "emulated_run.h"
#include "evidence/bag_check.h"
#include "evidence/recorder_lock.h"
#include "recorder_disk.h"

extern char** environ;

namespace kbc::emulated {
namespace {

namespace fs = std::filesystem;
using evidence::testing::DiskFile;
using evidence::testing::make_fat32;
using evidence::testing::pattern;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string kKbcctl = KBC_KBCCTL;

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A value of a flat JSON object line, as kbcctl writes them: the text between the key's quotes
// or up to the next comma.
std::string json_value(const std::string& line, const std::string& key) {
  const std::string tag = "\"" + key + "\":";
  const std::size_t at = line.find(tag);
  if (at == std::string::npos) {
    return {};
  }
  std::size_t start = at + tag.size();
  if (line[start] == '"') {
    return line.substr(start + 1, line.find('"', start + 1) - start - 1);
  }
  return line.substr(start, line.find_first_of(",}", start) - start);
}

class OffloadOnTheBus : public BusTest {
 protected:
  OffloadOnTheBus() {
    std::ofstream(station_) << "store = \"" << store_.string()
                            << "\"\nerase = \"require-offload\"\n";
  }

  // kbcctl with the station's file and the administrator's password.
  std::vector<std::string> kbcctl(std::vector<std::string> args) const {
    std::vector<std::string> argv{"env", "KBC_STATION_FILE=" + station_.string(),
                                  "KBC_PASSWORD=888888", kKbcctl};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }

  fs::path station_ = scratch_.file("station.toml");
  fs::path store_ = scratch_.file("store");
};

TEST_F(OffloadOnTheBus, TheDiskOnTheRecordersPortBecomesAVerifiedBagAndTheEraseWaitsForIt) {
  const std::vector<DiskFile> recorded{
      {"DCIM/100MEDIA/20261208_143005_0001.MP4", pattern(2 << 20, 11)},
      {"DCIM/100MEDIA/执法记录 长名字.MP4", pattern(300 * 1024, 12)},
      {"PHOTO/IMG0001.JPG", pattern(50 * 1024, 13)},
  };
  const fs::path disk = scratch_.file("recorder.img");
  const fs::path stray = scratch_.file("stray.img");
  make_fat32(disk, recorded);
  make_fat32(stray, {{"not-evidence.txt", "someone's flash disk"}});
  const std::string fifo = scratch_.file("control");

  // Before any offload the station's rule refuses to erase; then the offload; then the
  // recorder's disk (001/005, after the stray disk) is pulled out and the recorder plugged in
  // again, as after an offload at a desk, and the erase goes through.
  std::vector<std::string> bus{
      "--disk", disk.string(), "--stray-disk", stray.string(), "--control",
      fifo,     "--",          "sh",           "-c",           "\"$@\"; echo \"erase before: $?\"",
      "-"};
  for (const auto& program :
       {kbcctl({"--yes", "erase"}),
        {"--then"},
        kbcctl({"-v", "--json", "offload"}),
        {"--then"},
        {"sh", "-c", "printf 'remove 001/005\\nadd recorder=KBC0001\\n' > " + fifo},
        {"--then"},
        kbcctl({"--yes", "erase"})}) {
    bus.insert(bus.end(), program.begin(), program.end());
  }
  const BusRun run = run_recorded(bus);
  const std::vector<std::string> out = lines(run.output);
  EXPECT_EQ(run.status, 0) << run.output << run.errors;
  ASSERT_GE(out.size(), 6u) << run.output << run.errors;
  EXPECT_THAT(out[0], HasSubstr("按本站规定，最近30分钟内没有该记录仪已验证的导出，不能清除!"));
  EXPECT_EQ(out[1], "erase before: 1");

  // One event per file of the recorder's disk, none of the stray disk's, then the receipt.
  std::vector<std::string> paths;
  std::string receipt;
  for (const std::string& line : out) {
    if (json_value(line, "event") == "file") {
      paths.push_back(json_value(line, "path"));
      EXPECT_EQ(json_value(line, "serial"), "KBC0001");
    } else if (json_value(line, "event") == "recorder") {
      receipt = line;
    }
  }
  EXPECT_THAT(
      paths, ::testing::UnorderedElementsAre(recorded[0].path, recorded[1].path, recorded[2].path));
  EXPECT_EQ(json_value(receipt, "ok"), "true") << receipt;
  EXPECT_EQ(json_value(receipt, "stage"), "verified");
  EXPECT_THAT(run.errors, HasSubstr("The recorder's disk is /dev/sdc"));
  const fs::path bag = json_value(receipt, "bag");
  EXPECT_EQ(bag.parent_path(), store_ / "440300000000" / "000001");
  EXPECT_TRUE(evidence::check_bag(bag).intact());
  for (const DiskFile& file : recorded) {
    EXPECT_TRUE(slurp(bag / "data" / file.path) == file.bytes) << file.path;
  }
  EXPECT_FALSE(fs::exists(bag / "data" / "not-evidence.txt"));
  EXPECT_THAT(slurp(bag / "bag-info.txt"), HasSubstr("Officer-Name: 张三\n"));

  // With the recorder back, the erase goes through, its question stating the offload.
  EXPECT_EQ(out[out.size() - 2], "所有资料将会被消除!");
  EXPECT_EQ(out.back(), "清除文件成功");
}

// A disk of another vendor on the recorder's port, where the recorder was a moment before, is
// named and never opened; the recorder's own disk that comes after it is bagged.
TEST_F(OffloadOnTheBus, AnotherVendorsDiskOnTheRecordersPortIsIgnored) {
  const fs::path disk = scratch_.file("recorder.img");
  const fs::path foreign = scratch_.file("foreign.img");
  make_fat32(disk, {{"DCIM/0001.MP4", pattern(100 * 1024, 21)}});
  make_fat32(foreign, {{"not-evidence.txt", "someone's flash disk"}});
  const BusRun run = run_recorded({"--disk", disk.string(), "--foreign-disk", foreign.string(),
                                   "--", "env", "KBC_STATION_FILE=" + station_.string(),
                                   "KBC_PASSWORD=000000", kKbcctl, "-v", "--json", "offload"});
  EXPECT_EQ(run.status, 0) << run.output << run.errors;
  EXPECT_THAT(run.errors, ::testing::MatchesRegex(
                              "(.|\n)*came on the recorder's port and was ignored: /dev/sd[a-z] "
                              "\\(USB 0781:5567\\)(.|\n)*"));
  std::string receipt;
  for (const std::string& line : lines(run.output)) {
    receipt = json_value(line, "event") == "recorder" ? line : receipt;
  }
  const fs::path bag = json_value(receipt, "bag");
  EXPECT_TRUE(evidence::check_bag(bag).intact());
  EXPECT_TRUE(fs::exists(bag / "data/DCIM/0001.MP4"));
  EXPECT_FALSE(fs::exists(bag / "data/not-evidence.txt"));
}

TEST_F(OffloadOnTheBus, AnExfatVolumeInAPartitionIsReadAsWell) {
  const fs::path disk = scratch_.file("fs.exfat");
  if (!evidence::testing::unpack_exfat_sample(disk)) {
    GTEST_SKIP() << "forensics-samples-exfat is not installed; run scripts/setup";
  }
  const BusRun run = run_recorded({"--disk", disk.string() + "@1048576", "--", "env",
                                   "KBC_STATION_FILE=" + station_.string(), "KBC_PASSWORD=000000",
                                   kKbcctl, "offload"});
  EXPECT_EQ(run.status, 0) << run.output << run.errors;
  EXPECT_THAT(run.output, HasSubstr("001/003 KBC0001: verified\n  导出已验证: "));
  EXPECT_THAT(run.output, HasSubstr("(18个文件, 9.3 MB)"));
}

// kbcctl --json offload --from IMAGE with its standard output on a pipe: SIGKILL as soon as its
// first file is stored, then run again to the end.
TEST(OffloadCutShort, AnOffloadKilledWhileCopyingIsFinishedByTheNextReadingOnlyTheRest) {
  ScratchDir scratch;
  const fs::path disk = scratch.file("disk.img");
  std::vector<DiskFile> files;
  for (int i = 0; i < 40; ++i) {
    files.push_back({"DCIM/V" + std::to_string(1000 + i) + ".MP4",
                     pattern(1 << 20, static_cast<std::uint32_t>(i))});
  }
  make_fat32(disk, files, 64);
  const std::string store = scratch.file("store");
  std::vector<std::string> args{kKbcctl,    "--json",  "offload", "--from", disk.string(),
                                "--serial", "KBC0001", "--store", store};

  int out[2];
  ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  std::vector<char*> argv;
  for (std::string& arg : args) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  std::string first;
  char c = 0;
  while (::read(out[0], &c, 1) == 1 && c != '\n') {
    first += c;
  }
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(out[0]);
  ASSERT_EQ(json_value(first, "event"), "file") << first;

  const BusRun again = run_program(args);
  EXPECT_EQ(again.status, 0) << again.output << again.errors;
  std::size_t kept = 0, copied = 0;
  std::string receipt;
  for (const std::string& line : lines(again.output)) {
    if (json_value(line, "event") == "file") {
      (json_value(line, "kept") == "true" ? kept : copied) += 1;
    } else {
      receipt = line;
    }
  }
  EXPECT_GE(kept, 1u);
  EXPECT_EQ(kept + copied, files.size());
  EXPECT_EQ(json_value(receipt, "kept"), std::to_string(kept));
  EXPECT_EQ(json_value(receipt, "files"), std::to_string(files.size()));
  EXPECT_TRUE(evidence::check_bag(json_value(receipt, "bag")).intact());

  // While another run holds the recorder, a second says who and touches nothing.
  {
    const evidence::Store held{store};
    auto lock = evidence::lock_recorder(held, "KBC0001", "host station-3, pid 4242, user alice");
    ASSERT_TRUE(std::holds_alternative<evidence::RecorderLock>(lock));
    std::vector<std::string> text_args = args;
    text_args.erase(text_args.begin() + 1);
    const BusRun busy = run_program(text_args);
    EXPECT_EQ(busy.status, 1) << busy.output << busy.errors;
    EXPECT_THAT(busy.output,
                HasSubstr("该记录仪的导出正在另一处进行 (host station-3, pid 4242, user "
                          "alice, since "));
    EXPECT_EQ(std::distance(
                  fs::directory_iterator(fs::path(json_value(receipt, "bag")).parent_path()), {}),
              1);
  }
}

}  // namespace
}  // namespace kbc::emulated
