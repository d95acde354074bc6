#include "cli/receipts.h"

#include <optional>

#include "cli/json.h"
#include "console/printable.h"

namespace kbc::cli {
namespace {

// Only the clock's value is ever empty: when it was not sent.
std::optional<std::string> value_of(const console::Step& step) {
  return step.value.empty() ? std::nullopt : std::optional(step.value);
}

}  // namespace

std::string receipt_block(const console::Receipt& receipt) {
  std::string text = receipt.location + " " +
                     (receipt.serial ? console::printable(*receipt.serial) : "-") + ": " +
                     (receipt.ok()     ? "ok"
                      : receipt.report ? *receipt.report
                                       : "failed") +
                     "\n";
  for (const console::Step& step : receipt.steps) {
    const std::optional<std::string> value = value_of(step);
    text.append("  ").append(step.key);
    if (value) {
      text.append(" ").append(console::printable(*value));
    }
    text.append(": ").append(step.report.value_or("not sent")).append("\n");
  }
  return text;
}

std::string receipt_json(const console::Receipt& receipt) {
  std::string steps;
  for (const console::Step& step : receipt.steps) {
    steps += steps.empty() ? "" : ",";
    steps += R"({"key":)" + json_string(step.key) + R"(,"value":)" + json_or_null(value_of(step)) +
             R"(,"report":)" + json_or_null(step.report) +
             (step.ok ? R"(,"ok":true})" : R"(,"ok":false})");
  }
  return R"({"location":)" + json_string(receipt.location) + R"(,"serial":)" +
         json_or_null(receipt.serial) + (receipt.ok() ? R"(,"ok":true)" : R"(,"ok":false)") +
         R"(,"report":)" + json_or_null(receipt.report) + R"(,"steps":[)" + steps + "]}";
}

}  // namespace kbc::cli
