// kbcctl and the audit trail: what it enters for which recorder, and `audit` reading it back.
#include "cli/audit.h"

#include <gmock/gmock.h>

#include <cstdlib>
#include <ctime>

#include "cli/options.h"
#include "cli_fixture.h"
#include "console/audit.h"

namespace kbc::cli::testing {
namespace {

using std::chrono::system_clock;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class FakeSource final : public journal::AuditSource {
 public:
  std::vector<journal::AuditRecord> records;
  std::optional<std::string> failure;
  std::vector<journal::AuditQuery> queries;

  std::optional<std::string> read(const journal::AuditQuery& query, const Each& each) override {
    queries.push_back(query);
    for (const journal::AuditRecord& record : records) {
      each(record);
    }
    return failure;
  }
};

// Local time is UTC+8 for these tests, as at a station in Shenzhen.
class InShenzhen : public ::testing::Test {
 protected:
  InShenzhen() {
    const char* tz = std::getenv("TZ");
    previous_ = tz ? std::optional<std::string>(tz) : std::nullopt;
    ::setenv("TZ", "CST-8", 1);
    ::tzset();
  }
  ~InShenzhen() override {
    if (previous_) {
      ::setenv("TZ", previous_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

 private:
  std::optional<std::string> previous_;
};

// 2026-12-08 14:30:05.000123 in Shenzhen.
constexpr std::uint64_t kAfternoon = 1796711405000123;

journal::AuditRecord unit_name_record() {
  journal::AuditRecord record;
  record.time_usec = kAfternoon;
  record.host = "station";
  record.program = "kbcctl";
  record.uid = 1000;
  record.operator_name = "alice";
  record.action = "unit-name";
  record.value = "深圳市公安局";
  record.location = "001/005";
  record.serial = "KBC0001234";
  record.outcome = "ok";
  record.report = {"设置单位名称成功"};
  record.message = "unit-name on KBC0001234 (001/005): 设置单位名称成功";
  return record;
}

TEST_F(InShenzhen, TheLineSaysWhenWhoWhereWhatAndHowItEnded) {
  EXPECT_EQ(audit_line(unit_name_record()),
            "2026-12-08 14:30:05 alice@station kbcctl: unit-name '深圳市公安局' on KBC0001234 "
            "(001/005): ok: 设置单位名称成功");

  journal::AuditRecord erase = unit_name_record();
  erase.action = "erase";
  erase.value.reset();
  erase.serial.reset();
  erase.report = {"所有资料将会被消除!", "清除文件成功"};
  EXPECT_EQ(audit_line(erase),
            "2026-12-08 14:30:05 alice@station kbcctl: erase on - (001/005): ok: "
            "所有资料将会被消除! | 清除文件成功");
}

TEST_F(InShenzhen, AnythingAnEntryHoldsIsShownAsText) {
  // Anyone may write entries under the programs' names.
  journal::AuditRecord forged = unit_name_record();
  forged.operator_name = "eve\x1b[2J";
  forged.value = "a\nb";
  forged.report = {"\xe2\x80\xae!ko"};
  EXPECT_EQ(audit_line(forged),
            "2026-12-08 14:30:05 eve\\x1b[2J@station kbcctl: unit-name 'a\\x0ab' on KBC0001234 "
            "(001/005): ok: \\u202e!ko");
}

TEST_F(InShenzhen, JsonHasEveryFieldAndNullForWhatTheEntryLacks) {
  journal::AuditRecord record = unit_name_record();
  EXPECT_EQ(audit_json(record),
            R"({"time":"2026-12-08T14:30:05.000123+08:00","host":"station","program":"kbcctl",)"
            R"("uid":1000,"operator":"alice","action":"unit-name","value":"深圳市公安局",)"
            R"("location":"001/005","serial":"KBC0001234","outcome":"ok",)"
            R"("report":["设置单位名称成功"],)"
            R"("message":"unit-name on KBC0001234 (001/005): 设置单位名称成功"})");
  record.value.reset();
  record.serial.reset();
  record.uid.reset();
  record.report = {"a\"b", "\xff"};
  const std::string json = audit_json(record);
  EXPECT_THAT(json, HasSubstr(R"("uid":null,)"));
  EXPECT_THAT(json, HasSubstr(R"("value":null,)"));
  EXPECT_THAT(json, HasSubstr(R"("serial":null,)"));
  EXPECT_THAT(json, HasSubstr("\"report\":[\"a\\\"b\",\"\xef\xbf\xbd\"]"));
}

TEST_F(InShenzhen, SinceTakesDatesTimesDaysAndSpansBeforeNow) {
  const auto now = system_clock::time_point(std::chrono::microseconds(kAfternoon));
  const std::uint64_t midnight = 1796659200000000;  // 2026-12-08 00:00 in Shenzhen
  const std::uint64_t s = 1000000;
  struct Row {
    const char* text;
    std::optional<std::uint64_t> usec;
  };
  const Row rows[] = {
      {"2026-12-08", midnight},
      {"2026-12-08 14:30", midnight + (14 * 3600 + 30 * 60) * s},
      {"2026-12-08T14:30:05", midnight + (14 * 3600 + 30 * 60 + 5) * s},
      {"today", midnight},
      {"yesterday", midnight - 86400 * s},
      {"now", kAfternoon},
      {"-90s", kAfternoon - 90 * s},
      {"-30min", kAfternoon - 1800 * s},
      {"-2h", kAfternoon - 7200 * s},
      {"-7d", kAfternoon - 7 * 86400 * s},
      {"-1w", kAfternoon - 7 * 86400 * s},
      {"2026-02-30", std::nullopt},
      {"2026-12-08 24:00", std::nullopt},
      {"2026-12-8", std::nullopt},
      {"2026-12-08 14:30:5", std::nullopt},
      {"-2", std::nullopt},
      {"-2m", std::nullopt},
      {"-h", std::nullopt},
      {"-99999999999999999999d", std::nullopt},
      {"-100000000d", std::nullopt},
      {"tomorrow", std::nullopt},
      {"", std::nullopt},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(parse_since(row.text, now), row.usec) << row.text;
  }
}

class AuditCommand : public CliTest {
 protected:
  AuditCommand() { journal = {&trail, &source}; }
  FakeTrail trail;
  FakeSource source;
};

TEST_F(AuditCommand, PrintsOneLineOrOneJsonObjectPerEntryInOrder) {
  source.records = {unit_name_record(), unit_name_record()};
  source.records[1].action = "info";
  source.records[1].value.reset();
  EXPECT_EQ(kbcctl({"audit"}), kSucceeded);
  ASSERT_EQ(output().size(), 2u);
  EXPECT_THAT(output()[0], HasSubstr("kbcctl: unit-name '深圳市公安局' on KBC0001234"));
  EXPECT_THAT(output()[1], HasSubstr("kbcctl: info on KBC0001234"));
  EXPECT_EQ(kbcctl({"audit", "--json"}), kSucceeded);
  ASSERT_EQ(output().size(), 2u);
  EXPECT_THAT(output()[1], HasSubstr(R"("action":"info","value":null,)"));
  EXPECT_EQ(err.str(), "");
  EXPECT_TRUE(usb_bus.wire().empty());
  EXPECT_TRUE(terminal.prompts.empty());
}

TEST_F(AuditCommand, TheSerialAndTheTimeSelectTheEntries) {
  EXPECT_EQ(kbcctl({"audit", "--serial", "KBC0001234", "--since", "2026-12-08"}), kSucceeded);
  ASSERT_EQ(source.queries.size(), 1u);
  EXPECT_EQ(source.queries[0].serial, "KBC0001234");
  EXPECT_TRUE(source.queries[0].since_usec.has_value());
  EXPECT_EQ(kbcctl({"audit"}), kSucceeded);
  EXPECT_EQ(source.queries[1].serial, std::nullopt);
  EXPECT_EQ(source.queries[1].since_usec, std::nullopt);
}

TEST_F(AuditCommand, AnUnreadableJournalIsAFailureAndATimeOfNoFormAUsageError) {
  source.failure = "no journal file is readable here";
  EXPECT_EQ(kbcctl({"audit"}), kFailed);
  EXPECT_EQ(err.str(), "kbcctl: no journal file is readable here\n");
  EXPECT_EQ(kbcctl({"audit", "--since", "someday"}), kUsage);
  EXPECT_THAT(err.str(), HasSubstr("--since: 'someday' is no time"));
  journal.source = nullptr;
  EXPECT_EQ(kbcctl({"audit"}), kFailed);
  EXPECT_EQ(err.str(), "kbcctl: the journal cannot be read here\n");
}

TEST_F(AuditCommand, EveryOperationOnTheBusIsEnteredAndNoneOnASimulatedRecorder) {
  env["KBC_PASSWORD"] = kAdmin;
  EXPECT_EQ(kbcctl({"--simulate", "verify"}), kSucceeded);
  EXPECT_THAT(trail.entries, IsEmpty());
  EXPECT_EQ(kbcctl({"verify"}), kSucceeded);
  ASSERT_EQ(trail.entries.size(), 1u);
  EXPECT_EQ(trail.entries[0].action, "verify");
  EXPECT_EQ(trail.entries[0].serial, "KBC0001");
  EXPECT_EQ(usb.letters(), "J-3E6") << "the serial number first, in a session of its own";
}

TEST_F(AuditCommand, ASerialGivenIsTheEntrysWithoutAnotherLookUp) {
  env["KBC_PASSWORD"] = kAdmin;
  EXPECT_EQ(kbcctl({"--serial", "KBC0001", "verify"}), kSucceeded);
  ASSERT_EQ(trail.entries.size(), 1u);
  EXPECT_EQ(trail.entries[0].serial, "KBC0001");
  EXPECT_EQ(trail.entries[0].location, usb.location());
  EXPECT_EQ(usb.letters(), "J-3E6") << "only --serial's own look-up";
}

TEST(Commands, EachIsEnteredUnderItsOwnName) {
  for (const Command& command : commands()) {
    EXPECT_EQ(console::action_name(command.button), command.name);
  }
}

}  // namespace
}  // namespace kbc::cli::testing
