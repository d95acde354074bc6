// A recorder's receipt of a profile, as kbcctl prints it: a short block of lines for people, or
// one JSON object on one line for scripts (JSON Lines).
#pragma once

#include <string>

#include "console/apply.h"

namespace kbc::cli {

// "001/005 KBC0001234: ok", then one line per step: "  video 1920X1080(30): <report>", or
// "not sent". The header says "failed" after a failed step, or the report that ended the run
// before the steps. UTF-8; what the recorder gave is shown as text.
std::string receipt_block(const console::Receipt& receipt);

// {"location":"001/005","serial":"KBC0001234","ok":true,"report":null,"steps":[{"key":"time",
// "value":"2024-03-05 07:08:09","report":"成功设置系统时间:2024-3-5 7:8:9","ok":true},...]};
// null for an unknown serial, for a step not sent (its report, and the time's value) and for no
// report before the steps.
std::string receipt_json(const console::Receipt& receipt);

}  // namespace kbc::cli
