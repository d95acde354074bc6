#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "cli/terminal.h"

namespace kbc::cli {
namespace {

struct Answer {
  std::string_view text;
  bool yes;
};

void PrintTo(const Answer& row, std::ostream* os) {
  *os << "'" << row.text << "'";
}

const Answer kAnswers[] = {
    {"y", true},  {"Y", true},   {"yes", true},   {" YES\t", true}, {"是", true}, {"", false},
    {"n", false}, {"no", false}, {"yess", false}, {"y e s", false}, {"1", false}, {"否", false},
};

class IsYesTest : public ::testing::TestWithParam<Answer> {};

TEST_P(IsYesTest, OnlyAYesIsYes) {
  EXPECT_EQ(is_yes(GetParam().text), GetParam().yes);
}

INSTANTIATE_TEST_SUITE_P(Answers, IsYesTest, ::testing::ValuesIn(kAnswers));

// A pseudo-terminal: the terminal under test on its slave side, the test typing on the master.
class PtyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    const int slave = ::open(ptsname(master_), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    slave_ = slave;
    terminal_.emplace(slave);
  }
  void TearDown() override {
    terminal_.reset();
    ::close(master_);
  }

  void type(std::string_view text) {
    ASSERT_EQ(::write(master_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  // What the terminal showed, up to and including `end`; gives up after a second without output.
  std::string shown_until(std::string_view end) {
    std::string shown;
    while (!shown.ends_with(end)) {
      pollfd ready{master_, POLLIN, 0};
      if (poll(&ready, 1, 1000) != 1) {
        break;
      }
      char c = 0;
      if (::read(master_, &c, 1) != 1) {
        break;
      }
      shown.push_back(c);
    }
    return shown;
  }

  bool echoing() const {
    termios modes{};
    tcgetattr(slave_, &modes);
    return (modes.c_lflag & ECHO) != 0;
  }

  int master_ = -1;
  int slave_ = -1;  // owned by the terminal
  std::optional<TtyTerminal> terminal_;
};

TEST_F(PtyTest, SecretIsReadWithoutEcho) {
  std::optional<std::string> secret;
  std::thread reader([&] { secret = terminal_->read_secret("Password: "); });
  // The prompt comes only once echo is off.
  EXPECT_EQ(shown_until("Password: "), "Password: ");
  EXPECT_FALSE(echoing());
  type("s3cret\n");
  EXPECT_EQ(shown_until("\n"), "\r\n");
  reader.join();
  EXPECT_EQ(secret, "s3cret");
  EXPECT_TRUE(echoing());
}

TEST_F(PtyTest, EndOfInputGivesNoSecret) {
  type("\x04");
  EXPECT_EQ(terminal_->read_secret("Password: "), std::nullopt);
  EXPECT_TRUE(echoing());
}

TEST_F(PtyTest, ConfirmShowsTheQuestionAndReadsTheAnswer) {
  type("y\n");
  EXPECT_TRUE(terminal_->confirm("Erase?"));
  // The typed answer's echo may come before or after the question, never inside it.
  std::string shown = shown_until("[y/N] ");
  if (const auto echo = shown.find("y\r\n"); echo != std::string::npos) {
    shown.erase(echo, 3);
  }
  EXPECT_EQ(shown, "Erase? [y/N] ");
  type("\n");
  EXPECT_FALSE(terminal_->confirm("Again?"));
  type("\x04");
  EXPECT_FALSE(terminal_->confirm("Once more?"));
}

TEST_F(PtyTest, NoteIsOneLine) {
  terminal_->note("管理员密码修改");
  EXPECT_EQ(shown_until("\n"), "管理员密码修改\r\n");
}

}  // namespace
}  // namespace kbc::cli
