// Standard output that cannot be written: the failure is kept with its reason, and a closed pipe
// does not end the process.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <ostream>

#include "cli/output.h"

namespace kbc::cli {
namespace {

TEST(FdOutput, AFullDiskFailsTheStreamWithItsReason) {
  const int fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  {
    FdOutput file(fd);
    std::ostream out(&file);
    out << "成功设置系统时间:2024-3-5 7:8:9\n";
    EXPECT_TRUE(out);  // still in the buffer
    out << std::flush;
    EXPECT_FALSE(out);
    EXPECT_EQ(file.error(), ENOSPC);
  }
  ::close(fd);
}

TEST(FdOutput, AClosedPipeFailsTheStreamAndLeavesNoSignal) {
  struct sigaction action {};
  ASSERT_EQ(sigaction(SIGPIPE, nullptr, &action), 0);
  ASSERT_EQ(action.sa_handler, SIG_DFL) << "SIGPIPE would end the test as it would kbcctl";
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  ::close(ends[0]);
  {
    FdOutput file(ends[1]);
    std::ostream out(&file);
    out << "重新连接!" << std::endl;
    EXPECT_FALSE(out);
    EXPECT_EQ(file.error(), EPIPE);
  }
  ::close(ends[1]);
  sigset_t pending;
  sigpending(&pending);
  EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
}

TEST(FdOutput, WhatFitsIsWrittenWhole) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  {
    FdOutput file(ends[1]);
    std::ostream out(&file);
    out << std::string(10000, 'x') << "end\n" << std::flush;
    EXPECT_TRUE(out);
    EXPECT_EQ(file.error(), 0);
  }
  ::close(ends[1]);
  std::string got;
  char chunk[4096];
  for (ssize_t n; (n = ::read(ends[0], chunk, sizeof chunk)) > 0;) {
    got.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(ends[0]);
  EXPECT_EQ(got, std::string(10000, 'x') + "end\n");
}

}  // namespace
}  // namespace kbc::cli
