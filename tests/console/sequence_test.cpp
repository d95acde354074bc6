#include <gtest/gtest.h>

#include <optional>

#include "console/handler.h"
#include "console/messages.h"
#include "console_fixture.h"

namespace kbc::console::testing {
namespace {

struct PreCheckRow {
  PreCheck form;
  std::string_view text;
  std::optional<std::string_view> report;  // nullopt: the password may go on
};

TEST(PreCheck, CountsGbkBytesAndReportsPerForm) {
  const PreCheckRow rows[] = {
      {PreCheck::full, "", msg::enter_password},
      {PreCheck::full, "12345", msg::password_length},
      {PreCheck::full, "1234567", msg::password_length},
      {PreCheck::full, "密码", msg::password_length},      // six UTF-8 bytes, four in GBK
      {PreCheck::full, "🙂🙂", msg::password_length},  // no GBK form
      {PreCheck::full, "执法仪", std::nullopt},            // three GBK characters: six bytes
      {PreCheck::full, "密码ab", std::nullopt},
      {PreCheck::short_length, "", msg::password_length},
      {PreCheck::short_length, "🙂🙂", msg::password_length},
      {PreCheck::short_length, "执法仪", std::nullopt},
      {PreCheck::short_password, "", msg::wrong_password},
      {PreCheck::short_password, "1234567", msg::wrong_password},
      {PreCheck::short_password, "🙂🙂", msg::wrong_password},
      {PreCheck::short_password, "123456", std::nullopt},
  };
  for (const PreCheckRow& row : rows) {
    SCOPED_TRACE(std::string(row.text));
    EXPECT_EQ(pre_check_failure(row.form, link::GbkText::from_utf8(row.text)), row.report);
  }
}

using SequenceTest = ConsoleTest;

TEST_F(SequenceTest, PreCheckStopsEveryButtonBeforeTheBus) {
  for (const Button& button : kButtons) {
    SCOPED_TRACE(button.id);
    const std::pair<std::string_view, std::string_view> rows[] = {
        {"", button.full_form ? msg::enter_password : msg::password_length},
        {"12345", msg::password_length},
        {"1234567", msg::password_length},
    };
    for (const auto& [text, report] : rows) {
      EXPECT_FALSE(press(button.id, text));
      EXPECT_EQ(view.lines, Lines{std::string(report)});
      EXPECT_TRUE(bus.wire().empty());
    }
  }
}

TEST_F(SequenceTest, GateOfEveryButton) {
  for (const Button& button : kButtons) {
    SCOPED_TRACE(button.id);
    EXPECT_FALSE(press(button.id, kWrong));
    EXPECT_EQ(recorder.letters(), button.gate_letters);
    EXPECT_EQ(view.lines, Lines{std::string(msg::wrong_password)});

    // Past the gate every button reaches its own step, here the first question or the list.
    const bool normal_passes = button.gate_letters == "-3";
    press(button.id, kNormal);
    EXPECT_EQ(view.lines.at(0) != msg::wrong_password, normal_passes);
    recorder.reconnect();  // after the mass-storage switch
  }
}

TEST_F(SequenceTest, NoRecorderAtAllReportsReconnectForEveryButton) {
  recorder.unplug();
  bus.add_other_device(0x1234, true);
  for (const Button& button : kButtons) {
    EXPECT_FALSE(press(button.id, kAdmin));
    EXPECT_EQ(view.lines, Lines{std::string(msg::reconnect)});
    EXPECT_TRUE(recorder.payloads().empty());
  }
}

TEST_F(SequenceTest, UnopenableOrUnconfigurableRecorderIsNoRecorder) {
  recorder.fail_configuration(-5);
  EXPECT_FALSE(press(idc::verify, kAdmin));
  recorder.fail_configuration(0);
  recorder.unplug();
  bus.add_unopenable_recorder();
  EXPECT_FALSE(press(idc::verify, kAdmin));
  EXPECT_EQ(view.lines, Lines{std::string(msg::reconnect)});
  EXPECT_TRUE(recorder.payloads().empty());
}

TEST_F(SequenceTest, UnplugAfterOpeningIsAWrongPassword) {
  recorder.unplug_at_transfer(1);
  EXPECT_FALSE(press(idc::verify, kAdmin));
  EXPECT_EQ(view.lines, Lines{std::string(msg::wrong_password)});
}

TEST_F(SequenceTest, SixGbkBytesOfChinesePassAndGoOutAsGbk) {
  recorder.state().admin_password = gbk("执法仪");
  EXPECT_TRUE(press(idc::verify, "执法仪"));
  const std::vector<std::uint8_t> check = recorder.payloads().at(1);
  EXPECT_EQ(std::string(check.begin() + 1, check.begin() + 7), gbk("执法仪"));
  EXPECT_EQ(check.at(7), 0);
}

TEST_F(SequenceTest, BodyGetsTheGateStatusesAndReportsInThePane) {
  link::Link link = bus.link();
  view.fields[idc::password] = kNormal;
  GateChecks seen;
  const Outcome outcome = run_handler(view, link, {PreCheck::full, Gate::either}, [&](Call& c) {
    seen = c.checks;
    c.report("body");
    return false;
  });
  EXPECT_EQ(outcome, Outcome::body_failed);
  EXPECT_EQ(seen.normal, 130);
  EXPECT_EQ(seen.admin, 247);
  recorder.unplug();
  EXPECT_EQ(run_handler(view, link, {PreCheck::full, Gate::none}, [](Call&) { return true; }),
            Outcome::no_recorder);
  EXPECT_EQ(view.lines, (Lines{"body", std::string(msg::reconnect)}));
  EXPECT_TRUE(view.messages.empty());
}

}  // namespace
}  // namespace kbc::console::testing
