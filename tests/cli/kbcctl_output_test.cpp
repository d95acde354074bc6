// The real kbcctl with a standard output that cannot take its reports: a full disk, a closed
// pipe. It says so on standard error and fails, whatever the command did.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace kbc::cli::testing {
namespace {

using ::testing::HasSubstr;

struct Ended {
  int status = -1;  // the wait status
  std::string errors;
};

// kbcctl ARGS with KBC_PASSWORD set and standard output on `out`.
Ended kbcctl(std::vector<std::string> args, int out) {
  args.insert(args.begin(), KBC_KBCCTL);
  std::vector<char*> argv;
  for (std::string& arg : args) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);
  std::vector<std::string> env_texts{"KBC_PASSWORD=888888", "LC_ALL=C.UTF-8"};
  std::vector<char*> envp;
  for (std::string& text : env_texts) {
    envp.push_back(text.data());
  }
  envp.push_back(nullptr);

  int errors[2];
  EXPECT_EQ(::pipe2(errors, O_CLOEXEC), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errors[1], STDERR_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(errors[1]);
  Ended ended;
  if (spawned != 0) {
    ADD_FAILURE() << "cannot run " << argv[0];
    ::close(errors[0]);
    return ended;
  }
  char chunk[4096];
  for (ssize_t n; (n = ::read(errors[0], chunk, sizeof chunk)) > 0;) {
    ended.errors.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(errors[0]);
  ::waitpid(pid, &ended.status, 0);
  return ended;
}

TEST(KbcctlOutput, AFullDiskIsReportedAndFails) {
  const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  const std::vector<std::vector<std::string>> commands{
      {"--simulate", "verify"},
      {"--simulate", "--json", "info"},
      {"--simulate=2", "list"},
      {"--help"},
  };
  for (const auto& command : commands) {
    SCOPED_TRACE(command.back());
    const Ended ended = kbcctl(command, full);
    ASSERT_TRUE(WIFEXITED(ended.status)) << ended.status;
    EXPECT_EQ(WEXITSTATUS(ended.status), 1);
    EXPECT_EQ(ended.errors, "kbcctl: cannot write standard output: No space left on device\n");
  }
  ::close(full);
}

TEST(KbcctlOutput, AClosedPipeIsReportedAndFailsWithoutTheSignal) {
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
  ::close(ends[0]);
  const std::string profile =
      ::testing::TempDir() + "kbcctl-output-" + std::to_string(::getpid()) + ".toml";
  ASSERT_EQ(::close(::open(profile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)), 0);
  const Ended ended = kbcctl({"--simulate=2", "--all", "apply", profile}, ends[1]);
  ::close(ends[1]);
  ::unlink(profile.c_str());
  ASSERT_TRUE(WIFEXITED(ended.status)) << "ended by signal " << WTERMSIG(ended.status);
  EXPECT_EQ(WEXITSTATUS(ended.status), 1);
  EXPECT_THAT(ended.errors, HasSubstr("kbcctl: cannot write standard output: Broken pipe\n"));
}

}  // namespace
}  // namespace kbc::cli::testing
