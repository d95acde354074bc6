#include <gmock/gmock.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "cli_fixture.h"

namespace kbc::cli::testing {
namespace {

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
  EXPECT_EQ(kbcctl({"--password-file", file("\n"), "verify"}), kFailed);
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
  std::vector<std::string> args = row.args;
  for (std::string& arg : args) {
    if (arg == "FILE") {
      arg = file(row.content);
    }
  }
  if (row.environment) {
    env["KBC_PASSWORD"] = *row.environment;
  }
  EXPECT_EQ(kbcctl(args, row.with_terminal), kUsage);
  EXPECT_THAT(err.str(), HasSubstr(row.error));
  EXPECT_EQ(out.str(), "");
  EXPECT_TRUE(usb.wire().empty());
}

INSTANTIATE_TEST_SUITE_P(Sources, UnavailableTest, ::testing::ValuesIn(kUnavailable),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kbc::cli::testing
