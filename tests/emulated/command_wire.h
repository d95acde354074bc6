// What the tests that run whole programs on the emulated bus share: a fixture that records the
// wire, and checks on the recorder's side of it: what each command sent, the setup every transfer
// carries and the clock text.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "emulated_run.h"
#include "wire.h"

namespace kbc::emulated {

// Runs the bus with its record of the wire in a scratch directory of the test's own.
class BusTest : public ::testing::Test {
 protected:
  // The bus's own arguments: options, "--", then the programs.
  BusRun run_recorded(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--wire", wire_path_});
    BusRun result = run_on_bus(arguments);
    EXPECT_TRUE(result.started) << result.errors;
    return result;
  }

  Wire wire() const {
    auto parsed = read_wire(wire_path_);
    EXPECT_TRUE(parsed) << "the wire file does not parse";
    return parsed.value_or(Wire{});
  }

  ScratchDir scratch_;
  std::string wire_path_ = scratch_.file("wire.txt");
};

// A verification reports and sends the PC's time: expectations name the report and the set_time
// payload with these, and the check takes the time from the wire after making sure it is the
// run's.
inline const std::string kClockReport = "(the clock report)";
inline const std::string kSetTime = "(set_time)";

inline std::size_t payload_length(char letter) {
  return letter == '{' ? 128 : letter == 'F' ? 32 : 18;
}

inline std::size_t reply_length(char letter) {
  return letter == '}' ? 128 : 12;
}

// The OUT payloads of one program, in order.
inline std::vector<std::string> payloads(const Wire& wire, int step) {
  std::vector<std::string> result;
  for (const ControlLine& c : wire.controls) {
    if (c.step == step && c.type == 0x40) {
      result.emplace_back(c.data.begin(), c.data.end());
    }
  }
  return result;
}

// `text` and the zero fill up to its command's payload length.
inline std::string padded(std::string text) {
  text.resize(payload_length(text.empty() ? '\0' : text.front()), '\0');
  return text;
}

// Only recorders get control transfers, each with the command setup and a 1000 ms time-out; a
// command whose payload went out whole is followed by the request for its reply to the same
// recorder, any other by nothing.
inline void expect_command_setup(const ControlLine& c) {
  SCOPED_TRACE(format(c));
  EXPECT_EQ(c.vendor, 0x4255);
  EXPECT_EQ(c.request, 0x55);
  EXPECT_EQ(c.value, 0x00aa);
  EXPECT_EQ(c.index, 0);
  EXPECT_EQ(c.timeout, 1000u);
}

inline void expect_transfers_as_the_link_sends_them(const Wire& wire) {
  const std::vector<ControlLine>& controls = wire.controls;
  for (std::size_t i = 0; i < controls.size(); ++i) {
    const ControlLine& c = controls[i];
    SCOPED_TRACE(format(c));
    expect_command_setup(c);
    ASSERT_EQ(c.type, 0x40) << "a reply asked for without its command";
    ASSERT_FALSE(c.data.empty());
    const char letter = static_cast<char>(c.data.front());
    EXPECT_EQ(c.length, payload_length(letter));
    const bool sent_whole = c.result == c.length;
    const bool reply_follows = i + 1 < controls.size() && controls[i + 1].type == 0xc0;
    EXPECT_EQ(reply_follows, sent_whole);
    if (reply_follows) {
      ++i;
      expect_command_setup(controls[i]);
      EXPECT_EQ(controls[i].step, c.step);
      EXPECT_EQ(controls[i].node, c.node);
      EXPECT_EQ(controls[i].length, reply_length(letter)) << format(controls[i]);
    }
  }
}

// The local time as set_time carries it: 14 digits, which sort as the times do.
inline std::string local_digits() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char text[16];
  std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &tm);
  return text;
}

// The time a set_time payload carries, after checking that it is "6", the 14 digits of a time
// from `before` to `after`, a line feed and zero fill; empty when it is not.
inline std::string sent_time(const std::string& payload, const std::string& before,
                             const std::string& after) {
  const std::string time = payload.substr(1, 14);
  EXPECT_EQ(payload, "6" + time + "\n" + std::string(2, '\0'));
  if (time.size() != 14 ||
      !std::all_of(time.begin(), time.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    ADD_FAILURE() << "no time in the set_time payload";
    return {};
  }
  EXPECT_LE(before, time);
  EXPECT_LE(time, after);
  return time;
}

// The verification's report for the time it set: "20240305070809" gives
// "成功设置系统时间:2024-3-5 7:8:9".
inline std::string clock_report(const std::string& digits) {
  if (digits.size() != 14) {
    return "成功设置系统时间:(no time sent)";
  }
  const auto part = [&](std::size_t at, std::size_t n) {
    return std::to_string(std::stoi(digits.substr(at, n)));
  };
  return "成功设置系统时间:" + part(0, 4) + "-" + part(4, 2) + "-" + part(6, 2) + " " + part(8, 2) +
         ":" + part(10, 2) + ":" + part(12, 2);
}

// Every line of `text`.
inline std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    result.push_back(line);
  }
  return result;
}

// The exit lines of a run, as text, so that a mismatch prints readably.
inline std::vector<std::string> exits(const Wire& wire) {
  std::vector<std::string> result;
  for (const ExitLine& exit : wire.exits) {
    result.push_back(format(exit));
  }
  return result;
}

}  // namespace kbc::emulated
