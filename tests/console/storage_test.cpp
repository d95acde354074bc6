#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>

#include "console/messages.h"
#include "console_fixture.h"

namespace kbc::console::testing {
namespace {

using StorageTest = ConsoleTest;

const Lines kSwitched = {"设置移动U盘成功.", "要再次使用本软件功能,请断开USB连接，重新连接!"};

TEST_F(StorageTest, DiskSwitchSendsThePasswordAndNeedsOnlyCompletedTransfers) {
  recorder.inject({.kind = sim::Fault::Kind::reply_code, .letter = '2', .value = 99});
  EXPECT_TRUE(press(idc::msdc, kNormal));
  EXPECT_EQ(recorder.letters(), "-32");
  const std::vector<std::uint8_t> payload = recorder.payloads().back();
  EXPECT_EQ(std::string(payload.begin(), payload.begin() + 8), std::string("2000000\0", 8));
  EXPECT_EQ(view.lines, kSwitched);
  EXPECT_TRUE(recorder.state().mass_storage);
}

TEST_F(StorageTest, DiskSwitchWithAFailedTransferAsksToReconnect) {
  const sim::Fault faults[] = {
      {.kind = sim::Fault::Kind::error, .stage = sim::Fault::Stage::out, .letter = '2'},
      {.kind = sim::Fault::Kind::timeout, .letter = '2'},
      {.kind = sim::Fault::Kind::short_transfer, .letter = '2', .length = 4},
  };
  for (const sim::Fault& fault : faults) {
    recorder.reconnect();
    recorder.inject(fault);
    EXPECT_FALSE(press(idc::msdc, kAdmin));
    EXPECT_EQ(view.lines, Lines{std::string(msg::reconnect)});
  }
}

struct EraseRow {
  std::deque<bool> answers;
  std::size_t questions;
  Lines lines;
};

TEST_F(StorageTest, EraseNeedsTwoYesOnOneSession) {
  const EraseRow rows[] = {
      {{false}, 1, {"清除操作取消!"}},
      {{true, false}, 2, {"清除操作取消!"}},
      {{true, true}, 2, {"所有资料将会被消除!", "清除文件成功"}},
  };
  for (const EraseRow& row : rows) {
    view.questions.clear();
    view.answers = row.answers;
    std::vector<int> handles;
    view.while_asking = [&] { handles.push_back(bus.open_handles()); };
    const bool erases = row.lines.size() == 2;
    EXPECT_EQ(press(idc::erase, kAdmin), erases);
    EXPECT_EQ(view.lines, row.lines);
    EXPECT_EQ(recorder.letters(), erases ? "3N" : "3");
    const Lines questions = {"清除所有文件|此操作将清除所有文件资料，请确认资料是否已备份？",
                             "清除所有文件|请再次确认是否进行清除操作？"};
    EXPECT_EQ(view.questions, Lines(questions.begin(), questions.begin() + row.questions));
    EXPECT_EQ(handles, std::vector<int>(row.questions, 1));
  }
  EXPECT_EQ(recorder.state().erase_count, 1);
}

TEST_F(StorageTest, EraseThatFailsAsksToReconnect) {
  const std::function<void()> faults[] = {
      [&] { recorder.inject({.kind = sim::Fault::Kind::outcome, .letter = 'N', .value = 0}); },
      [&] {
        view.while_asking = [&] {
          if (view.questions.size() == 2) {
            recorder.unplug();
          }
        };
      },
  };
  for (const auto& fault : faults) {
    fault();
    view.questions.clear();
    view.answers = {true, true};
    EXPECT_FALSE(press(idc::erase, kAdmin));
    EXPECT_EQ(view.lines, (Lines{"所有资料将会被消除!", "清除文件失败，请重新连接!"}));
  }
}

// The store's answer, as the evidence store would give it.
class FakeLedger final : public OffloadLedger {
 public:
  std::optional<OffloadFact> fact;
  std::vector<std::string> asked;
  std::optional<OffloadFact> newest_verified(std::string_view serial) override {
    asked.emplace_back(serial);
    return fact;
  }
};

TEST_F(StorageTest, TheEraseQuestionStatesTheNewestOffloadAndTheStationsRuleMayRefuse) {
  using std::chrono::minutes;
  const auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
  const OffloadFact recent{now - minutes(10),   132, 3'800'000'000, false, "/srv/e/KBC0001_1",
                           std::string(64, 'a')};
  const OffloadFact old{now - minutes(45),   7, 512'000, false, "/srv/e/KBC0001_0",
                        std::string(64, 'b')};
  const ErasePolicy warn{};
  const ErasePolicy strict{EraseRule::require_offload, minutes(30)};
  const ErasePolicy uploaded{EraseRule::require_upload, minutes(30)};
  // A window given in seconds or hours is said back in them.
  const ErasePolicy seconds{EraseRule::require_offload, std::chrono::seconds(4), SpanUnit::seconds};
  const ErasePolicy hours{EraseRule::require_offload, std::chrono::hours(2), SpanUnit::hours};
  OffloadFact stored = recent;
  stored.uploaded = true;
  const char* const kRefused =
      "按本站规定，最近30分钟内没有该记录仪已验证的导出，不能清除! 请先导出录像。";
  struct Row {
    const char* what;
    ErasePolicy policy;
    std::optional<OffloadFact> fact;
    bool without_offload;
    const char* refused;  // nullptr: asked
  };
  const Row rows[] = {
      {"warn, none", warn, std::nullopt, false, nullptr},
      {"warn, old", warn, old, false, nullptr},
      {"strict, recent", strict, recent, false, nullptr},
      {"strict, none", strict, std::nullopt, false, kRefused},
      {"strict, too old", strict, old, false, kRefused},
      {"strict, none, overridden", strict, std::nullopt, true, nullptr},
      {"upload, offloaded only", uploaded, recent, false,
       "按本站规定，最近30分钟内没有该记录仪已上传并校验的导出，不能清除! 请等待上传完成。"},
      {"upload, stored at the object store", uploaded, stored, false, nullptr},
      {"4s, ten minutes old", seconds, recent, false,
       "按本站规定，最近4秒内没有该记录仪已验证的导出，不能清除! 请先导出录像。"},
      {"2h, 45 minutes old", hours, old, false, nullptr},
      {"2h, none", hours, std::nullopt, false,
       "按本站规定，最近2小时内没有该记录仪已验证的导出，不能清除! 请先导出录像。"},
  };
  FakeLedger ledger;
  FakeTrail trail;
  Console audited{view, bus.link(), clock, &trail};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ledger.fact = row.fact;
    ledger.asked.clear();
    trail.entries.clear();
    audited.set_erase_guard(&ledger, row.policy, row.without_offload);
    view.questions.clear();
    view.answers = {false};
    view.lines.clear();
    bus.clear_wire();
    view.fields[idc::password] = kAdmin;
    EXPECT_FALSE(audited.on_command(idc::erase));
    EXPECT_EQ(ledger.asked, Lines{"KBC0001"});
    ASSERT_EQ(trail.entries.size(), 1u);
    const AuditEntry& entry = trail.entries.front();
    EXPECT_EQ(entry.value, row.without_offload ? "without-offload" : "");
    // The entry names the rule, and the bag the question stated, for an audit to check later.
    const auto field = [&](const std::string& name) {
      for (const auto& [key, value] : entry.fields) {
        if (key == name) {
          return value;
        }
      }
      return std::string("(none)");
    };
    EXPECT_EQ(field("KBC_ERASE_RULE"), std::string(rule_name(row.policy.rule)));
    EXPECT_EQ(field("KBC_BAG"), row.fact ? row.fact->bag : "(none)");
    EXPECT_EQ(field("KBC_TAGMANIFEST_SHA256"), row.fact ? row.fact->tagmanifest_sha256 : "(none)");
    if (row.refused != nullptr) {
      // Refused before any question, and entered so.
      EXPECT_TRUE(view.questions.empty());
      EXPECT_EQ(view.lines, Lines{row.refused});
      EXPECT_EQ(entry.outcome, AuditOutcome::refused);
      EXPECT_EQ(recorder.letters(), "J3");
      continue;
    }
    ASSERT_EQ(view.questions.size(), 1u);
    const std::string& question = view.questions.front();
    EXPECT_TRUE(
        question.starts_with("清除所有文件|此操作将清除所有文件资料，请确认资料是否已备份？\n"));
    if (row.fact) {
      EXPECT_THAT(question, ::testing::HasSubstr("该记录仪最近一次已验证的导出: "));
      EXPECT_THAT(question, ::testing::EndsWith(row.fact->uploaded ? ", 3.8 GB, 已上传并校验"
                                                : row.fact->files == 132 ? ", 132个文件, 3.8 GB"
                                                                         : ", 7个文件, 512.0 KB"));
    } else {
      EXPECT_THAT(question, ::testing::EndsWith("\n该记录仪没有已验证的导出记录。"));
    }
    EXPECT_EQ(entry.outcome, AuditOutcome::cancelled);
  }
  // Without a store the questions are the seed's, and nothing more is sent.
  audited.set_erase_guard(nullptr, strict);
  view.questions.clear();
  EXPECT_FALSE(press(idc::erase, kAdmin));
  EXPECT_EQ(view.questions, Lines{"清除所有文件|此操作将清除所有文件资料，请确认资料是否已备份？"});
  EXPECT_EQ(recorder.letters(), "3");
}

// The station's rule is a floor: another may make it stricter, never weaker.
TEST(EraseRule, TheStationsRuleIsAFloorThatOnlyAStricterOneRaises) {
  using std::chrono::minutes;
  const ErasePolicy station{EraseRule::require_offload, minutes(30)};
  const struct {
    ErasePolicy wanted;
    ErasePolicy held;
    bool weaker;
  } rows[] = {
      {{EraseRule::warn, minutes(30)}, station, true},
      {{EraseRule::require_offload, minutes(60)}, station, true},
      {{EraseRule::require_offload, minutes(10)}, {EraseRule::require_offload, minutes(10)}, false},
      {{EraseRule::require_upload, minutes(30)}, {EraseRule::require_upload, minutes(30)}, false},
      {{EraseRule::require_upload, minutes(90)}, {EraseRule::require_upload, minutes(30)}, true},
  };
  for (const auto& row : rows) {
    const ErasePolicy held = at_least(station, row.wanted);
    EXPECT_EQ(held.rule, row.held.rule);
    EXPECT_EQ(held.window, row.held.window);
    EXPECT_EQ(weaker(row.wanted, station), row.weaker);
  }
  // Over the seed's "warn" anything goes.
  EXPECT_EQ(at_least({}, {EraseRule::warn, minutes(600)}).window, minutes(600));
  EXPECT_FALSE(weaker({EraseRule::warn, minutes(600)}, {}));
  EXPECT_EQ(span_text(std::chrono::seconds(90), SpanUnit::seconds), "90秒");
  EXPECT_EQ(span_name(std::chrono::hours(48), SpanUnit::days), "2d");
}

TEST_F(StorageTest, WithoutATrailTheEraseReadsTheSerialInASessionOfItsOwn) {
  FakeLedger ledger;
  console.set_erase_guard(&ledger, {});
  view.answers = {false};
  EXPECT_FALSE(press(idc::erase, kAdmin));
  EXPECT_EQ(ledger.asked, Lines{"KBC0001"});
  EXPECT_EQ(recorder.letters(), "J3");
  // A serial number the recorder will not give is said in the question.
  recorder.inject({.kind = sim::Fault::Kind::outcome, .letter = 'J', .value = 0});
  view.questions.clear();
  view.answers = {false};
  EXPECT_FALSE(press(idc::erase, kAdmin));
  EXPECT_THAT(view.questions.front(),
              ::testing::EndsWith("\n未能读取该记录仪的序列号，无法确认是否已导出。"));
}

}  // namespace
}  // namespace kbc::console::testing
