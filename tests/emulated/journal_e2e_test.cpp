// The audit trail in a real journal: systemd-journald of the test's own, the real kbcctl and the
// real window on the emulated bus, the entries read back with journalctl --directory and with
// kbcctl audit.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <map>

#include "command_wire.h"
#include "emulated_run.h"
#include "evidence/sha256.h"
#include "private_journal.h"
#include "recorder_disk.h"
#include "tests/console/station_profile.h"

namespace kbc::emulated {
namespace {

using ::testing::AllOf;
using ::testing::Each;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::SizeIs;
using ::testing::StartsWith;

const std::string kKbcctl = KBC_KBCCTL;
const std::string kRecorder = "001/003";  // the default bus: the root hub, a mouse, the recorder
const std::string kSerial = "KBC0001";
// Every password the runs use; none may reach the journal. The normal one is not the emulated
// recorder's own, whose digits its unit number holds.
const std::string kAdmin = "888888", kNormal = "246813", kWrong = "123456", kNew = "654321";

class JournalOnBus : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const auto failure = journal_.start(scratch_)) {
      if (failure->skip) {
        GTEST_SKIP() << failure->reason;
      }
      FAIL() << failure->reason;
    }
  }

  // A password file with these lines.
  std::string passwords(const std::vector<std::string>& lines) {
    const std::string file = scratch_.file("passwords-" + std::to_string(++files_));
    std::ofstream out(file);
    for (const std::string& line : lines) {
      out << line << '\n';
    }
    return file;
  }

  // The programs on one bus, one after another, with the journal in their reach.
  BusRun on_bus(std::vector<std::string> options,
                const std::vector<std::vector<std::string>>& programs) {
    options.insert(options.begin(), "--journal");
    options.push_back("--");
    for (const auto& program : programs) {
      if (options.back() != "--") {
        options.push_back("--then");
      }
      options.insert(options.end(), program.begin(), program.end());
    }
    BusRun run = run_on_bus(options);
    EXPECT_TRUE(run.started) << run.errors;
    return run;
  }

  std::vector<JournalEntry> entries() {
    const auto read = journal_.entries({"kbcctl", "kbc-q7"});
    EXPECT_TRUE(read) << journal_.error();
    return read.value_or(std::vector<JournalEntry>{});
  }

  // kbcctl audit ARGS: its lines without the time in front of each.
  std::vector<std::string> audit(const std::vector<std::string>& args, bool json = false) {
    std::vector<std::string> argv{kKbcctl, "audit"};
    argv.insert(argv.end(), args.begin(), args.end());
    const BusRun run = run_program(argv);
    EXPECT_EQ(run.status, 0) << run.errors;
    std::vector<std::string> result = lines(run.output);
    if (!json) {
      for (std::string& line : result) {
        EXPECT_EQ(line.size() > 20 ? line[19] : '\0', ' ') << line;
        line = line.substr(std::min<std::size_t>(line.size(), 20));
      }
    }
    return result;
  }

  static std::string host() {
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    return name;
  }

  ScratchDir scratch_;
  PrivateJournal journal_;
  int files_ = 0;
};

// What an entry says, field by field; a field left empty must be absent.
struct Expected {
  std::string identifier;
  std::string action;
  std::string value;
  std::string serial;
  std::string outcome;
  std::string report;
  std::string priority;
};

void expect_entry(const JournalEntry& entry, const Expected& expected) {
  SCOPED_TRACE(expected.action + " " + expected.outcome);
  const auto field = [&](const std::string& name) -> std::string {
    const auto found = entry.find(name);
    return found == entry.end() ? "(none)" : found->second;
  };
  const auto or_none = [](const std::string& value) { return value.empty() ? "(none)" : value; };
  EXPECT_EQ(field("SYSLOG_IDENTIFIER"), expected.identifier);
  EXPECT_EQ(field("KBC_ACTION"), expected.action);
  EXPECT_EQ(field("KBC_VALUE"), or_none(expected.value));
  EXPECT_EQ(field("KBC_LOCATION"), kRecorder);
  EXPECT_EQ(field("KBC_SERIAL"), or_none(expected.serial));
  EXPECT_EQ(field("KBC_OUTCOME"), expected.outcome);
  EXPECT_EQ(field("KBC_REPORT"), expected.report);
  EXPECT_EQ(field("KBC_OPERATOR"), "root");
  EXPECT_EQ(field("PRIORITY"), expected.priority);
  const std::string last = expected.report.substr(expected.report.rfind('\n') + 1);
  EXPECT_EQ(field("MESSAGE"), expected.action + " on " + (expected.serial.empty() ? "-" : kSerial) +
                                  " (" + kRecorder + "): " + last);
}

// No password in any field the programs wrote (the journal's own fields start with "_").
void expect_no_password(const std::vector<JournalEntry>& entries) {
  for (const JournalEntry& entry : entries) {
    for (const auto& [name, value] : entry) {
      if (name.starts_with('_')) {
        continue;
      }
      for (const std::string& password : {kAdmin, kNormal, kWrong, kNew}) {
        EXPECT_THAT(value, Not(HasSubstr(password))) << name;
      }
    }
  }
}

TEST_F(JournalOnBus, EveryKbcctlOperationIsOneEntryAndAuditTellsThemBack) {
  const std::string admin = passwords({kAdmin});
  const BusRun run =
      on_bus({"--normal", kNormal},
             {
                 {kKbcctl, "--password-file", admin, "video", "1920X1080(30)"},
                 {kKbcctl, "--password-file", passwords({kWrong}), "verify"},
                 // No terminal and no --yes: the first question is answered No.
                 {"setsid", "-w", kKbcctl, "--password-file", admin, "erase"},
                 {kKbcctl, "--password-file", admin, "--yes", "erase"},
                 {kKbcctl, "--password-file", passwords({kNormal, kNormal, kNew, kNew}), "passwd"},
                 {kKbcctl, "--password-file", admin, "unit-name", "龙岗分局"},
                 {kKbcctl, "--password-file", admin, "info"},
                 // Stopped by the pre-check: nothing sent, nothing written.
                 {kKbcctl, "--password-file", passwords({"12345"}), "verify"},
             });
  EXPECT_THAT(lines(run.output), Not(IsEmpty())) << run.errors;

  const std::vector<JournalEntry> written = entries();
  const std::vector<Expected> expected = {
      {"kbcctl", "video", "1920X1080(30)", kSerial, "ok", "录像尺寸设置为1920X1080(30)成功!", "5"},
      {"kbcctl", "verify", "", kSerial, "refused", "密码错误!", "4"},
      {"kbcctl", "erase", "", kSerial, "cancelled", "清除操作取消!", "5"},
      {"kbcctl", "erase", "", kSerial, "ok", "所有资料将会被消除!\n清除文件成功", "5"},
      {"kbcctl", "passwd", "normal", kSerial, "ok", "修改密码成功!", "5"},
      {"kbcctl", "unit-name", "龙岗分局", kSerial, "ok", "设置单位名称成功", "5"},
      {"kbcctl", "info", "", kSerial, "ok",
       "设备序列号:KBC0001\n用户编号:000001\n用户名称:张三\n单位编号:440300000000\n"
       "单位名称:龙岗分局",
       "6"},
  };
  ASSERT_THAT(written, SizeIs(expected.size())) << run.output << run.errors;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    expect_entry(written[i], expected[i]);
  }
  expect_no_password(written);

  const std::string who = "root@" + host() + " kbcctl: ";
  const std::string on = " on " + kSerial + " (" + kRecorder + "): ";
  EXPECT_THAT(audit({}),
              ElementsAreArray({
                  who + "video '1920X1080(30)'" + on + "ok: 录像尺寸设置为1920X1080(30)成功!",
                  who + "verify" + on + "refused: 密码错误!",
                  who + "erase" + on + "cancelled: 清除操作取消!",
                  who + "erase" + on + "ok: 所有资料将会被消除! | 清除文件成功",
                  who + "passwd 'normal'" + on + "ok: 修改密码成功!",
                  who + "unit-name '龙岗分局'" + on + "ok: 设置单位名称成功",
                  who + "info" + on +
                      "ok: 设备序列号:KBC0001 | 用户编号:000001 | 用户名称:张三 | "
                      "单位编号:440300000000 | 单位名称:龙岗分局",
              }));
  const std::vector<std::string> json = audit({"--serial", kSerial, "--json"}, true);
  EXPECT_THAT(json, SizeIs(expected.size()));
  EXPECT_THAT(json, Each(AllOf(StartsWith("{\"time\":\""), HasSubstr(R"("program":"kbcctl")"),
                               HasSubstr(R"("serial":"KBC0001","outcome":)"))));
  EXPECT_THAT(audit({"--serial", "KBC0002"}), IsEmpty());
  EXPECT_THAT(audit({"--since", "-1h"}), SizeIs(expected.size()));
  EXPECT_THAT(audit({"--since", "now"}), IsEmpty());
}

TEST_F(JournalOnBus, ARecorderThatVanishesBeforeTheOperationIsEnteredAsNoRecorder) {
  // Gone at the second transfer: get_sn's reply of the look-up.
  const BusRun run =
      on_bus({"--unplug-at", "2"}, {{kKbcctl, "--password-file", passwords({kAdmin}), "verify"}});
  EXPECT_EQ(lines(run.output), std::vector<std::string>{"重新连接!"}) << run.errors;
  const std::vector<JournalEntry> written = entries();
  ASSERT_THAT(written, SizeIs(1u));
  expect_entry(written[0], {"kbcctl", "verify", "", "", "no-recorder", "重新连接!", "4"});
  EXPECT_THAT(audit({}), ElementsAreArray({"root@" + host() + " kbcctl: verify on - (" + kRecorder +
                                           "): no-recorder: 重新连接!"}));
}

TEST_F(JournalOnBus, UnlessAskedTheBusKeepsItsProgramsFromTheJournalAndTheRecorders) {
  const std::string wire = scratch_.file("wire.txt");
  const BusRun run = run_on_bus(
      {"--wire", wire, "--", kKbcctl, "--password-file", passwords({kAdmin}), "-v", "verify"});
  ASSERT_TRUE(run.started) << run.errors;
  EXPECT_THAT(run.errors, HasSubstr("The journal could not be written"));
  EXPECT_THAT(entries(), IsEmpty());
  const auto sent = read_wire(wire);
  ASSERT_TRUE(sent);
  EXPECT_EQ(payloads(*sent, 0).size(), 4u) << "the verification alone, no look-up";
}

TEST_F(JournalOnBus, ApplyIsOneEntryPerRecorderWithTheProfileAsItsValue) {
  const std::string profile = scratch_.file("station.toml");
  std::ofstream(profile) << testing::kStationProfile;
  const BusRun run =
      on_bus({"--bus", "recorder=KBCA000001,mouse,recorder=KBCB000002"},
             {{kKbcctl, "--password-file", passwords({kAdmin}), "--all", "apply", profile}});
  EXPECT_EQ(run.status, 0) << run.output << run.errors;
  const std::vector<JournalEntry> written = entries();
  ASSERT_THAT(written, SizeIs(2u));
  std::map<std::string, std::string> locations;
  for (const JournalEntry& entry : written) {
    EXPECT_EQ(entry.at("KBC_ACTION"), "apply");
    EXPECT_EQ(entry.at("KBC_VALUE"),
              "video=1920X1080(30), segment=10分钟, photo=2688X1512, ir=自动, screen-off=1分钟, "
              "voice=打开, brightness=中, motion=关闭, unit-number=A7, unit-name=龙华分局");
    EXPECT_EQ(entry.at("KBC_OUTCOME"), "ok");
    EXPECT_EQ(entry.at("PRIORITY"), "5");
    EXPECT_THAT(entry.at("KBC_REPORT"), HasSubstr("\n设置单位名称成功"));
    locations[entry.at("KBC_SERIAL")] = entry.at("KBC_LOCATION");
  }
  EXPECT_EQ(locations, (std::map<std::string, std::string>{{"KBCA000001", "001/002"},
                                                           {"KBCB000002", "001/004"}}));
  expect_no_password(written);
  EXPECT_THAT(audit({"--serial", "KBCB000002"}),
              ElementsAreArray({StartsWith("root@" + host() + " kbcctl: apply 'video=")}));
}

#ifdef KBC_FRAME_CLICK
TEST_F(JournalOnBus, TheWindowsOperationsAreEnteredUnderItsOwnNameBesideKbcctls) {
  const BusRun run = on_bus(
      {}, {{KBC_FRAME_CLICK, kAdmin}, {kKbcctl, "--password-file", passwords({kAdmin}), "verify"}});
  EXPECT_EQ(run.status, 0) << run.errors;
  const std::vector<JournalEntry> written = entries();
  ASSERT_THAT(written, SizeIs(2u));
  EXPECT_EQ(written[0].at("SYSLOG_IDENTIFIER"), "kbc-q7");
  EXPECT_EQ(written[1].at("SYSLOG_IDENTIFIER"), "kbcctl");
  for (const JournalEntry& entry : written) {
    EXPECT_EQ(entry.at("KBC_ACTION"), "verify");
    EXPECT_EQ(entry.at("KBC_SERIAL"), kSerial);
    EXPECT_EQ(entry.at("KBC_OUTCOME"), "ok");
    EXPECT_THAT(entry.at("KBC_REPORT"), StartsWith("成功设置系统时间:"));
  }
  expect_no_password(written);
  const std::vector<std::string> shown = audit({"--serial", kSerial});
  ASSERT_THAT(shown, SizeIs(2u));
  EXPECT_THAT(shown[0], StartsWith("root@" + host() + " kbc-q7: verify on KBC0001"));
  EXPECT_THAT(shown[1], StartsWith("root@" + host() + " kbcctl: verify on KBC0001"));
}
#endif

// An offload enters its start, each file with its hash and the bag with its tag manifest's hash;
// check holds a bag against that entry, so that a bag altered later, manifests and all, fails.
TEST_F(JournalOnBus, AnOffloadEntersItsFilesAndItsBagAndCheckHoldsTheBagToIt) {
  const std::filesystem::path disk = scratch_.file("disk.img");
  evidence::testing::make_fat32(
      disk, {{"DCIM/A.MP4", evidence::testing::pattern(70000, 1)}, {"DCIM/B.JPG", "jpeg"}});
  const std::string store = scratch_.file("store");
  const BusRun offload = run_program(
      {kKbcctl, "offload", "--from", disk.string(), "--serial", kSerial, "--store", store});
  ASSERT_EQ(offload.status, 0) << offload.output << offload.errors;
  const std::string bag = store + "/unknown/unknown/" +
                          lines(offload.output)[1].substr(lines(offload.output)[1].find(kSerial));
  const std::string bag_path = bag.substr(0, bag.find(' '));

  const std::vector<JournalEntry> written = entries();
  ASSERT_THAT(written, SizeIs(4));
  const auto field = [](const JournalEntry& entry, const std::string& name) {
    const auto found = entry.find(name);
    return found == entry.end() ? std::string("(none)") : found->second;
  };
  EXPECT_EQ(field(written[0], "KBC_ACTION"), "offload");
  EXPECT_EQ(field(written[1], "KBC_PATH"), "DCIM/A.MP4");
  EXPECT_EQ(field(written[1], "KBC_SIZE"), "70000");
  EXPECT_EQ(field(written[1], "KBC_SHA256"),
            evidence::sha256_hex(evidence::testing::pattern(70000, 1)));
  EXPECT_EQ(field(written[2], "KBC_PATH"), "DCIM/B.JPG");
  EXPECT_EQ(field(written[3], "KBC_ACTION"), "offload-bag");
  EXPECT_EQ(field(written[3], "KBC_OUTCOME"), "ok");
  EXPECT_EQ(field(written[3], "KBC_BAG"), bag_path);
  EXPECT_EQ(field(written[3], "KBC_FILES"), "2");
  EXPECT_EQ(field(written[3], "KBC_BYTES"), "70004");
  std::ifstream tags(bag_path + "/tagmanifest-sha256.txt");
  EXPECT_EQ(field(written[3], "KBC_TAGMANIFEST_SHA256"),
            evidence::sha256_hex(std::string(std::istreambuf_iterator<char>(tags), {})));
  for (const JournalEntry& entry : written) {
    EXPECT_EQ(field(entry, "KBC_SERIAL"), kSerial);
    EXPECT_EQ(field(entry, "SYSLOG_IDENTIFIER"), "kbcctl");
  }

  // As given, and as a shell's completion gives it, with a slash at the end.
  for (const std::string& given : {bag_path, bag_path + "/"}) {
    const BusRun intact = run_program({kKbcctl, "check", given});
    EXPECT_EQ(intact.status, 0) << given << "\n" << intact.output << intact.errors;
    EXPECT_THAT(intact.output, HasSubstr(": intact, 2 files, 70004 bytes\n"));
  }

  // A file changed and both manifests written anew to hide it: only the journal tells.
  std::ofstream(bag_path + "/data/DCIM/B.JPG") << "JPEG";
  const std::string manifest = evidence::sha256_hex(evidence::testing::pattern(70000, 1)) +
                               "  data/DCIM/A.MP4\n" + evidence::sha256_hex("JPEG") +
                               "  data/DCIM/B.JPG\n";
  std::ofstream(bag_path + "/manifest-sha256.txt") << manifest;
  std::string tagmanifest;
  for (const char* name :
       {"bagit.txt", "bag-info.txt", "manifest-sha256.txt", "recorder-files.txt"}) {
    std::ifstream in(bag_path + "/" + name);
    tagmanifest += evidence::sha256_hex(std::string(std::istreambuf_iterator<char>(in), {})) +
                   "  " + name + "\n";
  }
  std::ofstream(bag_path + "/tagmanifest-sha256.txt") << tagmanifest;
  const BusRun altered = run_program({kKbcctl, "check", bag_path});
  EXPECT_EQ(altered.status, 1);
  EXPECT_THAT(altered.output,
              HasSubstr("the tag manifest is not the one the journal entered when the bag was "
                        "verified"));
}

}  // namespace
}  // namespace kbc::emulated
