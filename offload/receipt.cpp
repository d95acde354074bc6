// A recorder's receipt as the operator reads it, in the window's pane and on kbcctl's output.
#include <cstdio>

#include "console/erase_guard.h"
#include "console/offload_messages.h"
#include "offload/offload.h"

namespace kbc::offload {
namespace {

std::string formatted(const char* format, const std::string& one) {
  char text[1024];
  std::snprintf(text, sizeof text, format, one.c_str());
  return text;
}

std::string counted(std::uint64_t files, std::uint64_t bytes) {
  char text[128];
  std::snprintf(text, sizeof text, console::msg::offload_count_format,
                static_cast<unsigned long long>(files), console::size_text(bytes).c_str());
  return text;
}

// "DCIM/0001.MP4: 读取记录仪失败 (Input/output error)"
std::string chinese(const evidence::BagProblem& problem) {
  using Kind = evidence::BagProblem::Kind;
  std::string what;
  switch (problem.kind) {
    case Kind::recorder:
      what = formatted(console::msg::problem_recorder_format, problem.detail);
      break;
    case Kind::store:
      what = formatted(console::msg::problem_store_format, problem.detail);
      break;
    case Kind::differs:
      what = console::msg::problem_differs;
      break;
    case Kind::changed:
      what = formatted(console::msg::problem_changed_format, problem.detail);
      break;
    case Kind::room: {
      char text[512];
      std::snprintf(text, sizeof text, console::msg::offload_no_room_format,
                    console::size_text(problem.needed).c_str(),
                    console::size_text(problem.free).c_str());
      what = text;
      break;
    }
  }
  return problem.path.empty() ? what : problem.path + ": " + what;
}

}  // namespace

std::vector<std::string> Offloaded::lines() const {
  if (report) {
    return {*report};
  }
  std::vector<std::string> lines;
  for (const evidence::SetAsideBag& aside : bag.set_aside) {
    if (aside.verified) {
      char text[1024];
      std::snprintf(text, sizeof text, console::msg::offload_set_aside_format,
                    static_cast<unsigned long long>(aside.files), aside.path.c_str());
      lines.push_back(text);
    } else {
      lines.push_back(
          formatted(console::msg::offload_set_aside_failed_format, aside.path.string()));
      for (const evidence::BagProblem& problem : aside.problems) {
        lines.push_back(chinese(problem));
      }
    }
  }
  const bool room =
      !bag.problems.empty() && bag.problems.front().kind == evidence::BagProblem::Kind::room;
  switch (stage) {
    case Stage::verified: {
      char text[1024];
      std::snprintf(text, sizeof text, console::msg::offload_verified_format, bag.path.c_str(),
                    counted(bag.files, bag.bytes).c_str());
      lines.push_back(text);
      if (bag.kept > 0) {
        std::snprintf(text, sizeof text, console::msg::offload_kept_format,
                      static_cast<unsigned long long>(bag.kept));
        lines.push_back(text);
      }
      return lines;
    }
    case Stage::cancelled:
      lines.push_back(formatted(console::msg::offload_left_cancelled_format, bag.path.string()));
      return lines;
    default:
      if (!room && !bag.path.empty()) {
        lines.push_back(formatted(console::msg::offload_left_failed_format, bag.path.string()));
      }
      for (const evidence::BagProblem& problem : bag.problems) {
        lines.push_back(chinese(problem));
      }
      return lines;
  }
}

}  // namespace kbc::offload
