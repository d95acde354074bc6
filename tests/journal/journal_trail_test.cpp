// Whether the journal can be written, and what the trace says when it cannot. Writing itself is
// tested against a real journald in tests/emulated.
#include "journal/journal_trail.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/trace.h"

namespace kbc::journal {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class JournalTrailTest : public ::testing::Test {
 protected:
  JournalTrailTest()
      : previous_(
            link::set_trace_sink([this](std::string_view line) { trace.emplace_back(line); })) {
    char pattern[] = "/tmp/kbc-journal-XXXXXX";
    dir_ = ::mkdtemp(pattern);
  }
  ~JournalTrailTest() override {
    link::set_trace_sink(std::move(previous_));
    if (socket_ >= 0) {
      ::close(socket_);
    }
    ::unlink(path().c_str());
    ::rmdir(dir_.c_str());
  }

  std::string path() const { return dir_ + "/socket"; }

  // As a journald that has stopped: its socket file stays.
  void stop_listening() {
    ::close(socket_);
    socket_ = -1;
  }

  // A datagram socket listening at path(), as journald's does.
  void listen() {
    socket_ = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path().c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  }

  std::vector<std::string> trace;

 private:
  link::TraceSink previous_;
  std::string dir_;
  int socket_ = -1;
};

TEST_F(JournalTrailTest, WithoutJournaldNothingIsWritableAndTheTraceSaysSoOnce) {
  JournalTrail trail("kbcctl", path());
  EXPECT_FALSE(trail.writable());
  EXPECT_FALSE(trail.writable());
  EXPECT_THAT(trace, ElementsAre("The journal could not be written (No such file or directory); "
                                 "operations are not recorded"));
}

TEST_F(JournalTrailTest, AListeningSocketIsWritable) {
  listen();
  JournalTrail trail("kbcctl", path());
  EXPECT_TRUE(trail.writable());
  EXPECT_THAT(trace, IsEmpty());
}

TEST_F(JournalTrailTest, ASocketNobodyListensOnAnyMoreIsNotWritable) {
  listen();
  JournalTrail trail("kbcctl", path());
  ASSERT_TRUE(trail.writable());
  stop_listening();
  EXPECT_FALSE(trail.writable());
  EXPECT_THAT(trace, ElementsAre("The journal could not be written (Connection refused); "
                                 "operations are not recorded"));
}

}  // namespace
}  // namespace kbc::journal
