#include "private_journal.h"

#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "link/descriptor.h"

namespace kbc::emulated {
namespace {

constexpr int kReadyTimeoutMs = 10000;

std::string failed(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

// Runs `argv` with its standard output in `file`, which may hold any bytes; the exit status, or
// -1 when it did not run.
int run_into(const std::vector<std::string>& argv, const std::string& file) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, file.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> args;
  for (const std::string& arg : argv) {
    args.push_back(const_cast<char*>(arg.c_str()));
  }
  args.push_back(nullptr);
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, args.front(), &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (rc != 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
    return -1;
  }
  return WEXITSTATUS(status);
}

std::string machine_id() {
  std::string id;
  std::ifstream("/etc/machine-id") >> id;
  return id;
}

}  // namespace

std::optional<std::vector<JournalEntry>> parse_export(const std::string& text) {
  std::vector<JournalEntry> entries;
  JournalEntry entry;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string::npos) {
      return std::nullopt;
    }
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    if (line.empty()) {
      entries.push_back(std::move(entry));
      entry.clear();
      continue;
    }
    if (const std::size_t equals = line.find('='); equals != std::string::npos) {
      entry[line.substr(0, equals)] = line.substr(equals + 1);
      continue;
    }
    // A value with a line feed or other binary: the name, a little-endian 64-bit length, the
    // bytes, a line feed.
    if (at + 8 > text.size()) {
      return std::nullopt;
    }
    std::uint64_t length = 0;
    for (int i = 7; i >= 0; --i) {
      length = length << 8 | static_cast<unsigned char>(text[at + static_cast<std::size_t>(i)]);
    }
    at += 8;
    if (length > text.size() - at || at + length >= text.size() || text[at + length] != '\n') {
      return std::nullopt;
    }
    entry[line] = text.substr(at, length);
    at += length + 1;
  }
  if (!entry.empty()) {
    entries.push_back(std::move(entry));
  }
  return entries;
}

PrivateJournal::~PrivateJournal() {
  if (journald_ > 0) {
    ::kill(journald_, SIGTERM);
    int status = 0;
    ::waitpid(journald_, &status, 0);
  }
}

std::optional<PrivateJournal::Failure> PrivateJournal::start(const ScratchDir& scratch) {
  scratch_ = &scratch;
  if (::geteuid() != 0) {
    return Failure{true,
                   "a journal of the test's own needs root, for a private mount namespace "
                   "(unshare -m) and journald; CI runs the suite as root"};
  }
  if (::unshare(CLONE_NEWNS) != 0) {
    return Failure{true, failed("no private mount namespace here (unshare -m)")};
  }
  // Nothing mounted from here on reaches the machine's own namespace.
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    return Failure{false, failed("cannot make the mounts private")};
  }
  for (const char* dir : {"/run/systemd", "/run/log", "/var/log/journal"}) {
    std::error_code error;
    const bool persistent = std::string_view(dir) == "/var/log/journal";
    if (!persistent) {
      std::filesystem::create_directories(dir, error);
    }
    if (persistent && !std::filesystem::exists(dir)) {
      continue;  // no persistent journal on this machine
    }
    if (::mount("tmpfs", dir, "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") != 0) {
      return Failure{false, failed(std::string("cannot mount a tmpfs on ") + dir)};
    }
  }

  // journald tells when it is ready on a socket of ours.
  const std::string notify = scratch.file("notify");
  const link::Descriptor ready(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, notify.c_str(), sizeof address.sun_path - 1);
  if (ready.get() < 0 ||
      ::bind(ready.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return Failure{false, failed("cannot make the notification socket " + notify)};
  }
  std::string notify_env = "NOTIFY_SOCKET=" + notify;
  char* const argv[] = {const_cast<char*>(KBC_JOURNALD), nullptr};
  char* const envp[] = {notify_env.data(), nullptr};
  if (const int rc = ::posix_spawn(&journald_, KBC_JOURNALD, nullptr, nullptr, argv, envp);
      rc != 0) {
    journald_ = -1;
    errno = rc;
    return Failure{false, failed(std::string("cannot start ") + KBC_JOURNALD)};
  }
  for (;;) {
    pollfd waiting{ready.get(), POLLIN, 0};
    const int n = ::poll(&waiting, 1, kReadyTimeoutMs);
    if (n <= 0) {
      return Failure{false, "journald did not say READY=1 within 10 s"};
    }
    char message[4096];
    const ssize_t length = ::recv(ready.get(), message, sizeof message - 1, 0);
    if (length > 0 && std::string_view(message, static_cast<std::size_t>(length)).find("READY=1") !=
                          std::string_view::npos) {
      return std::nullopt;
    }
  }
}

std::optional<std::vector<JournalEntry>> PrivateJournal::entries(
    const std::vector<std::string>& identifiers) {
  const BusRun synced = run_program({KBC_JOURNALCTL, "--sync"});
  if (synced.status != 0) {
    error_ = "journalctl --sync: " + synced.errors;
    return std::nullopt;
  }
  std::vector<std::string> argv{KBC_JOURNALCTL, "--directory=/run/log/journal/" + machine_id(),
                                "--output=export", "--no-pager"};
  for (const std::string& identifier : identifiers) {
    argv.push_back("--identifier=" + identifier);
  }
  // The export holds binary fields: its bytes go through a file, not a C string.
  const std::string exported = scratch_->file("export");
  if (const int status = run_into(argv, exported); status != 0) {
    error_ = "journalctl --directory exited with " + std::to_string(status);
    return std::nullopt;
  }
  std::ifstream in(exported, std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  auto parsed = parse_export(text);
  if (!parsed) {
    error_ = "journalctl's export does not parse";
  }
  return parsed;
}

}  // namespace kbc::emulated
