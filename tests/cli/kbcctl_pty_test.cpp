// The real kbcctl at its password prompt on a terminal: whatever signal stops or ends it, the
// operator's terminal gets its echo back; and on a GBK terminal it reads and writes GBK.
#include <sys/wait.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>

#include "kbcctl_pty.h"

namespace kbc::cli::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr std::string_view kPrompt = "Password: ";

// kbcctl at its prompt, echo off.
struct Prompting : KbcctlOnPty {
  Prompting() : KbcctlOnPty({"--simulate", "verify"}, {}) {
    EXPECT_EQ(shown_until(kPrompt), kPrompt);
    EXPECT_FALSE(echoing());
  }
};

// With the key that sends it on the terminal, or else with kill().
void send(KbcctlOnPty& kbcctl, int signal, std::string_view key) {
  if (key.empty()) {
    ASSERT_EQ(kill(kbcctl.pid(), signal), 0);
  } else {
    kbcctl.type(key);
  }
}

struct Ending {
  std::string_view name;
  int signal;
  std::string_view typed;  // the key that sends it, or empty to send it with kill()
};

void PrintTo(const Ending& row, std::ostream* os) {
  *os << row.name;
}

const Ending kEnding[] = {
    {"CtrlC", SIGINT, "\x03"},  {"CtrlBackslash", SIGQUIT, "\x1c"},
    {"Hangup", SIGHUP, ""},     {"Term", SIGTERM, ""},
    {"Usr1", SIGUSR1, ""},      {"Usr2", SIGUSR2, ""},
    {"Alarm", SIGALRM, ""},     {"Pipe", SIGPIPE, ""},
    {"Abort", SIGABRT, ""},     {"CpuLimit", SIGXCPU, ""},
    {"Profiling", SIGPROF, ""}, {"RealTime", 40, ""},
};

class EndingTest : public ::testing::TestWithParam<Ending> {};

TEST_P(EndingTest, EndsAsTheSignalWouldWithEchoBackOn) {
  Prompting kbcctl;
  send(kbcctl, GetParam().signal, GetParam().typed);
  const std::optional<int> status = kbcctl.next_status();
  ASSERT_TRUE(status);
  ASSERT_TRUE(WIFSIGNALED(*status)) << *status;
  EXPECT_EQ(WTERMSIG(*status), GetParam().signal);
  EXPECT_TRUE(kbcctl.echoing());
}

INSTANTIATE_TEST_SUITE_P(Signals, EndingTest, ::testing::ValuesIn(kEnding),
                         [](const auto& info) { return std::string(info.param.name); });

struct Stopping {
  std::string_view name;
  int signal;
  std::string_view typed;
};

void PrintTo(const Stopping& row, std::ostream* os) {
  *os << row.name;
}

const Stopping kStopping[] = {
    {"CtrlZ", SIGTSTP, "\x1a"},
    {"Tstp", SIGTSTP, ""},
    {"Ttin", SIGTTIN, ""},
    {"Ttou", SIGTTOU, ""},
};

class StoppingTest : public ::testing::TestWithParam<Stopping> {};

TEST_P(StoppingTest, StopsWithEchoOnAndHidesAgainWhenContinued) {
  Prompting kbcctl;
  send(kbcctl, GetParam().signal, GetParam().typed);
  std::optional<int> status = kbcctl.next_status();
  ASSERT_TRUE(status);
  ASSERT_TRUE(WIFSTOPPED(*status)) << *status;
  EXPECT_EQ(WSTOPSIG(*status), GetParam().signal);
  EXPECT_TRUE(kbcctl.echoing()) << "the shell gets its echo back while kbcctl is stopped";

  ASSERT_EQ(kill(kbcctl.pid(), SIGCONT), 0);
  status = kbcctl.next_status();
  ASSERT_TRUE(status && WIFCONTINUED(*status));
  // The prompt again, once echo is off again.
  EXPECT_THAT(kbcctl.shown_until(kPrompt), HasSubstr(kPrompt));
  EXPECT_FALSE(kbcctl.echoing());

  kbcctl.type("888888\n");
  const std::string shown = kbcctl.shown_until("\n成功");
  EXPECT_THAT(shown, Not(HasSubstr("888888")));
  status = kbcctl.next_status();
  ASSERT_TRUE(status && WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 0) << shown;
  EXPECT_TRUE(kbcctl.echoing());
}

INSTANTIATE_TEST_SUITE_P(Signals, StoppingTest, ::testing::ValuesIn(kStopping),
                         [](const auto& info) { return std::string(info.param.name); });

// --- a GBK terminal, with a locale generated for the tests ---

const std::vector<std::string> kGbkLocale{"LOCPATH=" KBC_TEST_LOCALES, "LC_ALL=zh_CN.GBK"};

struct OnGbk {
  std::string_view name;
  std::vector<std::string> args;
  std::vector<std::string> typed;  // each after the previous prompt or question
  std::vector<std::string> shown;  // in order, GBK
  int status;
};

void PrintTo(const OnGbk& row, std::ostream* os) {
  *os << row.name;
}

const OnGbk kOnGbk[] = {
    {"ArgumentAndReport",
     {"--simulate", "brightness", "\xb8\xdf"},  // 高
     {"888888\n"},
     {"\xc6\xc1\xc1\xc1\xb6\xc8\xb8\xdf\xc9\xe8\xd6\xc3\xb3\xc9\xb9\xa6!\r\n"},  // 屏亮度高设置成功!
     0},
    {"QuestionsAndAnswers",
     {"--simulate", "erase"},
     {"888888\n", "\xca\xc7\n", "\xca\xc7\n"},  // 是
     {// 清除所有文件: 此操作将清除所有文件资料
      "\xc7\xe5\xb3\xfd\xcb\xf9\xd3\xd0\xce\xc4\xbc\xfe: \xb4\xcb\xb2\xd9\xd7\xf7",
      // 清除所有文件: 请再次确认
      "\xc7\xe5\xb3\xfd\xcb\xf9\xd3\xd0\xce\xc4\xbc\xfe: \xc7\xeb\xd4\xd9\xb4\xce",
      "\xc7\xe5\xb3\xfd\xce\xc4\xbc\xfe\xb3\xc9\xb9\xa6\r\n"},  // 清除文件成功
     0},
    {"InvalidArgument",
     {"--simulate", "unit-name", "\x81\x20"},
     {},
     {"kbcctl: unit-name: the TEXT is not valid GBK text\r\n"},
     2},
    {"UnencodableOutputIsAQuestionMark",
     {"--simulate", "video", "\xa4\xa2"},  // no item of the list: echoed in the message
     {},
     {"'\xa4\xa2' is no item of the list"},
     2},
};

class OnGbkTest : public ::testing::TestWithParam<OnGbk> {};

TEST_P(OnGbkTest, ReadsAndWritesTheTerminalsCharacterSet) {
  KbcctlOnPty kbcctl(GetParam().args, kGbkLocale);
  std::string shown;
  for (const std::string& typed : GetParam().typed) {
    shown += kbcctl.shown_until(typed == "888888\n" ? ": " : "[y/N] ");
    kbcctl.type(typed);
  }
  shown += kbcctl.shown_until("\x04");  // all it shows until it ends
  std::string_view rest = shown;
  for (const std::string& part : GetParam().shown) {
    const auto at = rest.find(part);
    ASSERT_NE(at, std::string_view::npos) << "'" << part << "' in '" << shown << "'";
    rest.remove_prefix(at + part.size());
  }
  const std::optional<int> status = kbcctl.next_status();
  ASSERT_TRUE(status && WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(Locale, OnGbkTest, ::testing::ValuesIn(kOnGbk),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kbc::cli::testing
