#include <gmock/gmock.h>
#include <sys/prctl.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "cli_fixture.h"

namespace kbc::cli::testing {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class PasswordTest : public CliTest {
 protected:
  ~PasswordTest() override { std::filesystem::remove(path_); }

  // A password file with exactly these bytes.
  std::string file(std::string_view content) {
    std::ofstream(path_, std::ios::binary) << content;
    return path_;
  }

  // The six password bytes of the first command that went out.
  std::string sent_password() const {
    const auto payloads = usb.payloads();
    if (payloads.empty()) {
      return "(nothing sent)";
    }
    return std::string(payloads[0].begin() + 1, payloads[0].begin() + 7);
  }

  // The arguments with "FILE" replaced by the file `make` makes.
  static std::vector<std::string> with_file(std::vector<std::string> args,
                                            const std::function<std::string()>& make) {
    for (std::string& arg : args) {
      if (arg == "FILE") {
        arg = make();
      }
    }
    return args;
  }

  // Test cases run in parallel processes, so each has a file of its own.
  static std::string unique_path() {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "." + test->name();
    std::ranges::replace(name, '/', '_');
    return ::testing::TempDir() + "kbcctl_password_" + name;
  }

  std::string path_ = unique_path();
};

TEST_F(PasswordTest, FileGivesItsFirstLine) {
  env["KBC_PASSWORD"] = std::string(kWrong);
  EXPECT_EQ(kbcctl({"--password-file", file("888888\n000000\n"), "verify"}), kSucceeded);
  EXPECT_EQ(sent_password(), kAdmin);
  EXPECT_THAT(terminal.prompts, IsEmpty());
}

TEST_F(PasswordTest, FileLineEndsWithoutCarriageReturn) {
  EXPECT_EQ(kbcctl({"--password-file=" + file("888888\r\n"), "verify"}), kSucceeded);
  EXPECT_EQ(sent_password(), kAdmin);
}

TEST_F(PasswordTest, DashReadsStandardInput) {
  in.str("000000\n");
  EXPECT_EQ(kbcctl({"--password-file", "-", "verify"}), kSucceeded);
  EXPECT_EQ(sent_password(), kNormal);
}

TEST_F(PasswordTest, EnvironmentComesBeforeTheTerminal) {
  env["KBC_PASSWORD"] = std::string(kAdmin);
  terminal.secrets = {std::string(kWrong)};
  EXPECT_EQ(kbcctl({"verify"}), kSucceeded);
  EXPECT_EQ(sent_password(), kAdmin);
  EXPECT_THAT(terminal.prompts, IsEmpty());
}

TEST_F(PasswordTest, TerminalIsAskedLast) {
  terminal.secrets = {std::string(kAdmin)};
  EXPECT_EQ(kbcctl({"verify"}), kSucceeded);
  EXPECT_EQ(sent_password(), kAdmin);
  EXPECT_THAT(terminal.prompts, ElementsAre("Password: "));
}

TEST_F(PasswordTest, EmptyLineIsAnEmptyPasswordForTheConsoleToJudge) {
  EXPECT_EQ(kbcctl({"--password-file", file("\n"), "verify"}), kUsage);
  EXPECT_THAT(output(), ElementsAre("请输入密码!"));
}

struct Unavailable {
  std::string_view name;
  std::vector<std::string> args;
  std::string_view content;  // of the password file, when the args name it
  bool with_terminal;
  std::optional<std::string> environment;
  std::string_view error;
};

void PrintTo(const Unavailable& row, std::ostream* os) {
  *os << row.name;
}

const Unavailable kUnavailable[] = {
    {"NoSourceAndNoTerminal", {"verify"}, "", false, std::nullopt, "no terminal to ask"},
    {"NothingTyped", {"verify"}, "", true, std::nullopt, "no password typed"},
    {"MissingFile",
     {"--password-file", "/nonexistent/kbcctl", "verify"},
     "",
     true,
     std::nullopt,
     "cannot read password file '/nonexistent/kbcctl': No such file or directory"},
    {"Directory", {"--password-file", "/", "verify"}, "", true, std::nullopt, "is a directory"},
    {"EmptyFile", {"--password-file", "FILE", "verify"}, "", true, "888888", "holds no password"},
    {"EmptyStdin", {"--password-file", "-", "verify"}, "", true, "888888", "standard input holds"},
    {"ChangeWithoutLines",
     {"--password-file", "FILE", "passwd"},
     "888888\n123456\n",
     true,
     std::nullopt,
     "has no line 3"},
    {"ChangeWithoutTerminal",
     {"passwd"},
     "",
     false,
     "888888",
     "no terminal to ask for the old and new passwords on"},
};

class UnavailableTest : public PasswordTest, public ::testing::WithParamInterface<Unavailable> {};

TEST_P(UnavailableTest, IsAUsageErrorAndSendsNothing) {
  const Unavailable& row = GetParam();
  const std::vector<std::string> args = with_file(row.args, [&] { return file(row.content); });
  if (row.environment) {
    env["KBC_PASSWORD"] = *row.environment;
  }
  EXPECT_EQ(kbcctl(args, row.with_terminal), kUsage);
  EXPECT_THAT(err.str(), HasSubstr(row.error));
  EXPECT_EQ(out.str(), "");
  EXPECT_TRUE(usb_bus.wire().empty());
}

INSTANTIATE_TEST_SUITE_P(Sources, UnavailableTest, ::testing::ValuesIn(kUnavailable),
                         [](const auto& info) { return std::string(info.param.name); });

// --- bounds: no source can make kbcctl grow or wait without a word ---

struct Bounded {
  std::string_view name;
  std::vector<std::string> args;  // FILE: a file made by `make`
  std::function<std::string(const std::string& path)> make;
  std::string input;  // standard input
  Lines errors;       // what standard error says, in part, in order
};

void PrintTo(const Bounded& row, std::ostream* os) {
  *os << row.name;
}

std::string sparse(const std::string& path) {
  // 100 MB with no line feed: the password, then a hole of zero bytes.
  std::ofstream(path, std::ios::binary) << kAdmin;
  std::filesystem::resize_file(path, 100'000'000);
  return path;
}

std::string fifo(const std::string& path) {
  EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
  return path;
}

const Bounded kBounded[] = {
    {"DevZero",
     {"--password-file", "/dev/zero", "verify"},
     nullptr,
     "",
     {"password file '/dev/zero': line 1 is longer than 4096 bytes"}},
    {"HundredMegabytesWithoutALineFeed",
     {"--password-file", "FILE", "verify"},
     sparse,
     "",
     {"line 1 is longer than 4096 bytes"}},
    {"LongStandardInput",
     {"--password-file", "-", "verify"},
     nullptr,
     std::string(4097, '8'),
     {"standard input: line 1 is longer than 4096 bytes"}},
    {"LongNewPassword",
     {"--password-file", "-", "passwd"},
     nullptr,
     "888888\n888888\n" + std::string(5000, 'x') + "\n",
     {"standard input: line 3 is longer"}},
    {"SilentFifo",
     {"--password-file", "FILE", "verify"},
     fifo,
     "",
     {"kbcctl: waiting for the password from password file", "no password came from"}},
};

class BoundedTest : public PasswordTest, public ::testing::WithParamInterface<Bounded> {};

TEST_P(BoundedTest, StopsWithAClearMessageAndSendsNothing) {
  const Bounded& row = GetParam();
  std::filesystem::remove(path_);
  const std::vector<std::string> args = with_file(row.args, [&] { return row.make(path_); });
  in.str(std::string(row.input));
  // Waits are values here: the FIFO is given up on at once, after its word.
  wait = {std::chrono::milliseconds(0), std::chrono::milliseconds(0)};
  EXPECT_EQ(kbcctl(args), kUsage);
  const std::string all = err.str();
  std::string_view said = all;
  for (const std::string& part : row.errors) {
    const auto at = said.find(part);
    ASSERT_NE(at, std::string_view::npos) << part << " in " << err.str();
    said.remove_prefix(at + part.size());
  }
  EXPECT_TRUE(usb_bus.wire().empty());
}

INSTANTIATE_TEST_SUITE_P(Sources, BoundedTest, ::testing::ValuesIn(kBounded),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PasswordTest, LongestLineIsStillTaken) {
  // At the bound, the console judges the password as it would any other.
  EXPECT_EQ(kbcctl({"--password-file", file(std::string(4096, '8') + "\n"), "verify"}), kUsage);
  EXPECT_THAT(output(), ElementsAre("密码长度有误!"));
}

// --- the terminal's character set, the byte-order mark ---

struct Encoded {
  std::string_view name;
  std::string_view charset;
  std::vector<std::string> args;  // FILE: a password file of `content`
  std::string content;
  std::optional<std::string> environment;
  std::optional<std::string> typed;
  int status;
  std::string said;  // standard output for a command that ran, standard error otherwise
  std::string sent;  // the password bytes that went out first
};

void PrintTo(const Encoded& row, std::ostream* os) {
  *os << row.name;
}

// 张三李 in GBK: a six-byte administrator password.
const std::string kGbkPassword = "\xd5\xc5\xc8\xfd\xc0\xee";

const Encoded kEncoded[] = {
    {"ByteOrderMarkIsNoPartOfThePassword",
     "UTF-8",
     {"--password-file", "FILE", "verify"},
     "\xef\xbb\xbf"
     "888888\n",
     std::nullopt,
     std::nullopt,
     kSucceeded,
     "成功设置系统时间:2024-3-5 7:8:9\n",
     "888888"},
    {"ByteOrderMarkMakesTheFileUtf8",
     "GBK",
     {"--password-file", "FILE", "verify"},
     "\xef\xbb\xbf\xe5\xbc\xa0\xe4\xb8\x89\xe6\x9d\x8e\n",  // 张三李 in UTF-8
     std::nullopt,
     std::nullopt,
     kSucceeded,
     "\xb3\xc9\xb9\xa6",  // 成功 in GBK
     kGbkPassword},
    {"GbkEnvironment",
     "GBK",
     {"verify"},
     "",
     kGbkPassword,
     std::nullopt,
     kSucceeded,
     "\xb3\xc9\xb9\xa6",
     kGbkPassword},
    {"GbkTyped", "GBK", {"verify"}, "", std::nullopt, kGbkPassword, kSucceeded, "", kGbkPassword},
    {"GbkFile",
     "GBK",
     {"--password-file", "FILE", "verify"},
     kGbkPassword + "\n",
     std::nullopt,
     std::nullopt,
     kSucceeded,
     "",
     kGbkPassword},
    {"GbkArgument",
     "GBK",
     {"user-name", "\xc0\xee\xcb\xc4"},  // 李四
     "",
     kGbkPassword,
     std::nullopt,
     kSucceeded,
     "\xc9\xe8\xd6\xc3\xd3\xc3\xbb\xa7\xc3\xfb\xb3\xc6\xb3\xc9\xb9\xa6\n",  // 设置用户名称成功
     kGbkPassword},
    {"InvalidGbkArgument",
     "GBK",
     {"user-name", "\x81"},
     "",
     "888888",
     std::nullopt,
     kUsage,
     "kbcctl: user-name: the TEXT is not valid GBK text\n",
     ""},
    {"InvalidUtf8Argument",
     "UTF-8",
     {"unit-name", "\xe5\xbc"},
     "",
     "888888",
     std::nullopt,
     kUsage,
     "kbcctl: unit-name: the TEXT is not valid UTF-8 text\n",
     ""},
    {"InvalidGbkEnvironment",
     "GBK",
     {"verify"},
     "",
     "88888\x81",
     std::nullopt,
     kUsage,
     "kbcctl: KBC_PASSWORD is not valid GBK text\n",
     ""},
    {"InvalidUtf8File",
     "UTF-8",
     {"--password-file", "FILE", "verify"},
     "88888\xff\n",
     std::nullopt,
     std::nullopt,
     kUsage,
     "line 1 is not valid UTF-8 text\n",
     ""},
    {"InvalidGbkTyped",
     "GBK",
     {"verify"},
     "",
     std::nullopt,
     "\xff\xff\xff",
     kUsage,
     "kbcctl: the password typed is not valid GBK text\n",
     ""},
};

class EncodedTest : public PasswordTest, public ::testing::WithParamInterface<Encoded> {};

TEST_P(EncodedTest, FollowsTheTerminalsCharacterSet) {
  const Encoded& row = GetParam();
  usb.state().admin_password = kGbkPassword;
  usb.state().normal_password = "888888";
  charset = Charset(std::string(row.charset));
  const std::vector<std::string> args = with_file(row.args, [&] { return file(row.content); });
  if (row.environment) {
    env["KBC_PASSWORD"] = *row.environment;
  }
  if (row.typed) {
    terminal.secrets = {*row.typed};
  }
  EXPECT_EQ(kbcctl(args), row.status) << err.str();
  if (row.status == kUsage) {
    EXPECT_THAT(err.str(), HasSubstr(row.said));
    EXPECT_TRUE(usb_bus.wire().empty());
  } else {
    EXPECT_THAT(out.str(), HasSubstr(row.said));
    EXPECT_EQ(sent_password(), row.sent);
  }
}

INSTANTIATE_TEST_SUITE_P(Charsets, EncodedTest, ::testing::ValuesIn(kEncoded),
                         [](const auto& info) { return std::string(info.param.name); });

// --- no core file while a password is held ---

struct Held {
  std::string_view name;
  std::vector<std::string> args;
  Lines typed;
  std::deque<bool> answers;
};

void PrintTo(const Held& row, std::ostream* os) {
  *os << row.name;
}

const Held kHeld[] = {
    {"AtThePrompt", {"verify"}, {"888888"}, {}},
    {"AtTheEraseQuestions", {"erase"}, {"888888"}, {true, false}},
    {"AtTheChangePrompts", {"passwd"}, {"888888", "888888", "abc123", "abc123"}, {}},
};

class HeldTest : public PasswordTest, public ::testing::WithParamInterface<Held> {};

TEST_P(HeldTest, ProcessIsNotDumpableWhileItHoldsAPassword) {
  const int before = prctl(PR_GET_DUMPABLE);
  ASSERT_EQ(before, 1) << "the test runs dumpable";
  for (const std::string& secret : GetParam().typed) {
    terminal.secrets.emplace_back(secret);
  }
  terminal.answers = GetParam().answers;
  std::vector<int> dumpable;
  terminal.on_ask = [&] { dumpable.push_back(prctl(PR_GET_DUMPABLE)); };
  kbcctl(GetParam().args);
  ASSERT_FALSE(dumpable.empty());
  // The first prompt comes before the password is had; from then on it is held.
  EXPECT_THAT(dumpable, Each(0));
  EXPECT_EQ(prctl(PR_GET_DUMPABLE), before) << "dumpable again once every copy is wiped";
}

INSTANTIATE_TEST_SUITE_P(Moments, HeldTest, ::testing::ValuesIn(kHeld),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kbc::cli::testing
