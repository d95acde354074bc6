// kbcctl run in-process: scripted terminal, environment and streams, and two simulated recorders,
// one standing for the USB bus and one for --simulate.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/run.h"
#include "cli/terminal.h"
#include "link/gbk.h"
#include "sim/sim_bus.h"

namespace kbc::cli::testing {

inline constexpr std::string_view kAdmin = "888888";
inline constexpr std::string_view kNormal = "000000";
inline constexpr std::string_view kWrong = "123456";

using Lines = std::vector<std::string>;

class FakeTerminal final : public Terminal {
 public:
  std::deque<std::optional<std::string>> secrets;  // typed at the prompts; nullopt is Ctrl+D
  std::deque<bool> answers;                        // No once they run out
  Lines prompts, questions, notes;
  std::function<void()> on_ask;  // called at every prompt and question

  std::optional<std::string> read_secret(std::string_view prompt) override {
    prompts.emplace_back(prompt);
    if (on_ask) {
      on_ask();
    }
    if (secrets.empty()) {
      return std::nullopt;
    }
    std::optional<std::string> secret = secrets.front();
    secrets.pop_front();
    return secret;
  }
  bool confirm(std::string_view question) override {
    questions.emplace_back(question);
    if (on_ask) {
      on_ask();
    }
    const bool yes = !answers.empty() && answers.front();
    if (!answers.empty()) {
      answers.pop_front();
    }
    return yes;
  }
  void note(std::string_view text) override { notes.emplace_back(text); }
};

// A journal that keeps every entry.
class FakeTrail final : public console::AuditTrail {
 public:
  std::vector<console::AuditEntry> entries;
  bool writable() override { return true; }
  void write(const console::AuditEntry& entry) override { entries.push_back(entry); }
};

class FixedClock final : public console::Clock {
 public:
  link::LocalTime now() override { return {2024, 3, 5, 7, 8, 9}; }
};

inline Lines lines_of(const std::string& text) {
  Lines lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    lines.push_back(line);
  }
  return lines;
}

inline std::string gbk(std::string_view utf8) {
  return link::GbkText::from_utf8(utf8).value().bytes();
}

class CliTest : public ::testing::Test {
 protected:
  // Runs kbcctl with these arguments; `with_terminal` false runs it without a terminal.
  int kbcctl(const std::vector<std::string>& args, bool with_terminal = true) {
    out.str({});
    err.str({});
    // Standard input is a pipe that holds `in` and then ends.
    int pipe_ends[2];
    EXPECT_EQ(::pipe(pipe_ends), 0);
    const std::string input = in.str();
    EXPECT_LE(input.size(), 65536u) << "more than a pipe takes at once";
    EXPECT_EQ(::write(pipe_ends[1], input.data(), input.size()),
              static_cast<ssize_t>(input.size()));
    ::close(pipe_ends[1]);
    Io io{pipe_ends[0], out, err, with_terminal ? &terminal : nullptr, charset, wait};
    const Environment lookup = [this](std::string_view name) -> std::optional<std::string> {
      const auto found = env.find(std::string(name));
      return found == env.end() ? std::nullopt : std::optional(found->second);
    };
    const auto simulate = [this](int recorders) -> sim::SimBus& {
      while (simulated_bus.recorder_count() < static_cast<std::size_t>(recorders)) {
        simulated_bus.add_recorder();
      }
      return simulated_bus;
    };
    const int status =
        run(args, lookup, io, {usb_bus.link(), simulate, nullptr, clock, nullptr, system_station},
            journal);
    ::close(pipe_ends[0]);
    return status;
  }

  Lines output() const { return lines_of(out.str()); }

  sim::SimBus usb_bus, simulated_bus;
  sim::SimRecorder& usb = usb_bus.add_recorder();
  sim::SimRecorder& simulated = simulated_bus.add_recorder();
  FixedClock clock;
  Journal journal;  // none: nothing entered, audit cannot read
  FakeTerminal terminal;
  std::map<std::string, std::string> env{{"KBC_STATION_FILE", KBC_TEST_STATION}};
  // The station's own file, in place of /etc/kbc-q7/station.toml.
  std::filesystem::path system_station = KBC_TEST_STATION;
  std::istringstream in;              // what standard input holds
  Charset charset = Charset::utf8();  // the terminal's
  SourceWait wait{};
  std::ostringstream out, err;
};

}  // namespace kbc::cli::testing
