// What an entry sends to the journal, field by field.
#include "journal/fields.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kbc::journal {
namespace {

using ::testing::ElementsAre;

console::AuditEntry erase_entry() {
  return {"erase",
          "",
          "001/005",
          "KBC0001234",
          console::AuditOutcome::ok,
          {"所有资料将会被消除!", "清除文件成功"},
          true};
}

TEST(EntryFields, EveryFieldInOrderWithTheReportLinesJoined) {
  EXPECT_THAT(entry_fields(erase_entry(), "kbcctl", "alice"),
              ElementsAre("MESSAGE=erase on KBC0001234 (001/005): 清除文件成功", "PRIORITY=5",
                          "SYSLOG_IDENTIFIER=kbcctl", "KBC_ACTION=erase", "KBC_LOCATION=001/005",
                          "KBC_SERIAL=KBC0001234", "KBC_OUTCOME=ok",
                          "KBC_REPORT=所有资料将会被消除!\n清除文件成功", "KBC_OPERATOR=alice"));
}

TEST(EntryFields, AValueIsSentAndAnUnknownSerialOrAnEmptyReportIsLeftOut) {
  console::AuditEntry entry{
      "passwd", "super", "001/005", std::nullopt, console::AuditOutcome::cancelled, {}, true};
  EXPECT_THAT(entry_fields(entry, "kbc-q7", "bob"),
              ElementsAre("MESSAGE=passwd on - (001/005): cancelled", "PRIORITY=5",
                          "SYSLOG_IDENTIFIER=kbc-q7", "KBC_ACTION=passwd", "KBC_VALUE=super",
                          "KBC_LOCATION=001/005", "KBC_OUTCOME=cancelled", "KBC_OPERATOR=bob"));
}

// Syslog's numbers: notice for a change, info for a read, warning for any failure.
TEST(EntryFields, ThePriorityFollowsTheOutcomeAndWhetherTheOperationChangesAnything) {
  struct Row {
    console::AuditOutcome outcome;
    bool changes;
    const char* priority;
  };
  const Row rows[] = {
      {console::AuditOutcome::ok, true, "PRIORITY=5"},
      {console::AuditOutcome::ok, false, "PRIORITY=6"},
      {console::AuditOutcome::cancelled, true, "PRIORITY=5"},
      {console::AuditOutcome::refused, true, "PRIORITY=4"},
      {console::AuditOutcome::refused, false, "PRIORITY=4"},
      {console::AuditOutcome::failed, false, "PRIORITY=4"},
      {console::AuditOutcome::no_recorder, true, "PRIORITY=4"},
  };
  for (const Row& row : rows) {
    console::AuditEntry entry = erase_entry();
    entry.outcome = row.outcome;
    entry.changes = row.changes;
    EXPECT_EQ(entry_fields(entry, "kbcctl", "alice")[1], row.priority)
        << console::outcome_name(row.outcome) << " " << row.changes;
  }
}

TEST(EntryFields, TheMessageShowsARecordersSerialAsText) {
  console::AuditEntry entry = erase_entry();
  entry.serial = "KBC\x1b[2J\n1";
  EXPECT_EQ(entry_fields(entry, "kbcctl", "alice")[0],
            "MESSAGE=erase on KBC\\x1b[2J\\x0a1 (001/005): 清除文件成功");
}

}  // namespace
}  // namespace kbc::journal
