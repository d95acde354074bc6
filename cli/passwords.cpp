#include "cli/passwords.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <ostream>
#include <vector>

#include "cli/password_lines.h"
#include "link/descriptor.h"

namespace kbc::cli {
namespace {

// The current password, then the change dialog's old, new and confirmed ones.
constexpr std::size_t kChangeLines = 4;
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

using Lines = std::vector<link::Secret>;

std::string seconds(std::chrono::milliseconds wait) {
  return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(wait).count()) + " s";
}

// Reads until it has `count` lines or the input ends. A source that keeps silent gets a word on
// standard error, then a limit.
std::variant<Lines, PasswordProblem> read_lines(int fd, const std::string& name, std::size_t count,
                                                const PasswordSources& sources) {
  PasswordLines lines(count);
  std::array<char, 4096> piece;
  const struct Wiped {
    std::array<char, 4096>& bytes;
    ~Wiped() { link::wipe(bytes); }
  } wiped{piece};

  const auto start = std::chrono::steady_clock::now();
  bool noticed = false;
  while (lines.state() == PasswordLines::State::wanting) {
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    const auto until = noticed ? sources.wait.limit : sources.wait.notice;
    pollfd ready{fd, POLLIN, 0};
    const int polled = ::poll(&ready, 1, static_cast<int>(std::max(until - waited, {}).count()));
    if (polled < 0 && errno == EINTR) {
      continue;
    }
    if (polled == 0 && !noticed) {
      sources.err << "kbcctl: waiting for the password from " << name << " (at most "
                  << seconds(sources.wait.limit) << ")\n"
                  << std::flush;
      noticed = true;
      continue;
    }
    if (polled == 0) {
      return PasswordProblem{"no password came from " + name + " in " +
                             seconds(sources.wait.limit)};
    }
    const ssize_t n = polled < 0 ? -1 : ::read(fd, piece.data(), piece.size());
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
      continue;
    }
    if (n < 0) {
      return PasswordProblem{"cannot read " + name + ": " + std::strerror(errno)};
    }
    if (n == 0) {
      break;
    }
    lines.take(std::string_view(piece.data(), static_cast<std::size_t>(n)));
  }
  if (lines.state() == PasswordLines::State::too_long) {
    return PasswordProblem{name + ": line " + std::to_string(lines.line_count() + 1) +
                           " is longer than " + std::to_string(kLongestPasswordLine) +
                           " bytes; a password line is one line"};
  }
  return lines.finish();
}

std::variant<Lines, PasswordProblem> read_file(const PasswordSources& sources, std::size_t count) {
  const std::string& file = *sources.file;
  if (file == "-") {
    return read_lines(sources.in, "standard input", count, sources);
  }
  const std::string name = "password file '" + file + "'";
  // Not blocking, so that a FIFO without a writer is waited on with a word and a limit, not in
  // open(); reads then wait in poll().
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    return PasswordProblem{"cannot read " + name + ": " + std::strerror(errno)};
  }
  const link::Descriptor opened(fd);
  struct stat status {};
  if (::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
    return PasswordProblem{name + " is a directory"};
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return read_lines(fd, name, count, sources);
}

// A password as the terminal's character set has it, in UTF-8. A file that starts with the UTF-8
// byte-order mark is UTF-8 whatever the locale, and the mark is no part of the password.
std::variant<link::Secret, PasswordProblem> decoded(const link::Secret& text,
                                                    const Charset& charset,
                                                    const std::string& what) {
  std::optional<std::string> utf8 = charset.to_utf8(text.view());
  if (!utf8) {
    return PasswordProblem{what + " is not valid " + charset.name() + " text"};
  }
  return link::Secret(std::move(*utf8));
}

std::variant<Passwords, PasswordProblem> from_file(const PasswordSources& sources, bool change) {
  auto read = read_file(sources, change ? kChangeLines : 1);
  if (auto* problem = std::get_if<PasswordProblem>(&read)) {
    return *problem;
  }
  Lines& lines = std::get<Lines>(read);
  const std::string name =
      *sources.file == "-" ? "standard input" : "password file '" + *sources.file + "'";
  if (lines.empty()) {
    return PasswordProblem{name + " holds no password"};
  }
  if (lines.size() < kChangeLines && change) {
    return PasswordProblem{name + " has no line " + std::to_string(lines.size() + 1) +
                           ": passwd reads the password, the old one, the new one and the new "
                           "one again from lines 1 to 4"};
  }
  const bool bom = lines[0].view().starts_with(kUtf8Bom);
  if (bom) {
    lines[0] = link::Secret(lines[0].view().substr(kUtf8Bom.size()));
  }
  const Charset utf8 = Charset::utf8();
  std::vector<link::Secret> texts;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    auto text =
        decoded(lines[i], bom ? utf8 : sources.charset, name + " line " + std::to_string(i + 1));
    if (auto* problem = std::get_if<PasswordProblem>(&text)) {
      return *problem;
    }
    texts.push_back(std::move(std::get<link::Secret>(text)));
  }
  Passwords passwords{std::move(texts[0]), std::nullopt};
  if (change) {
    passwords.change =
        console::PasswordEntry{std::move(texts[1]), std::move(texts[2]), std::move(texts[3])};
  }
  return passwords;
}

}  // namespace

std::variant<Passwords, PasswordProblem> gather_passwords(const PasswordSources& sources,
                                                          bool change) {
  if (sources.file) {
    return from_file(sources, change);
  }

  if (sources.terminal == nullptr) {
    if (!sources.environment) {
      return PasswordProblem{
          "no terminal to ask for the password on; give --password-file FILE or set "
          "KBC_PASSWORD"};
    }
    if (change) {
      return PasswordProblem{
          "no terminal to ask for the old and new passwords on; give them on lines 2 to 4 of "
          "--password-file FILE"};
    }
  }
  if (sources.environment) {
    auto text = decoded(*sources.environment, sources.charset, "KBC_PASSWORD");
    if (auto* problem = std::get_if<PasswordProblem>(&text)) {
      return *problem;
    }
    return Passwords{std::move(std::get<link::Secret>(text)), std::nullopt};
  }
  std::optional<std::string> typed = sources.terminal->read_secret("Password: ");
  if (!typed) {
    return PasswordProblem{"no password typed"};
  }
  auto text = decoded(link::Secret(std::move(*typed)), sources.charset, "the password typed");
  if (auto* problem = std::get_if<PasswordProblem>(&text)) {
    return *problem;
  }
  return Passwords{std::move(std::get<link::Secret>(text)), std::nullopt};
}

std::variant<console::PasswordEntry, PasswordProblem> prompt_change(Terminal& terminal,
                                                                    const Charset& charset,
                                                                    std::string_view title) {
  terminal.note(title);
  console::PasswordEntry entry;
  for (auto [prompt, text] : {std::pair{"Old password: ", &entry.old_password},
                              std::pair{"New password: ", &entry.new_password},
                              std::pair{"New password again: ", &entry.confirmation}}) {
    std::optional<std::string> typed = terminal.read_secret(prompt);
    if (!typed) {
      return PasswordProblem{"password change cancelled"};
    }
    auto decoded_text = decoded(link::Secret(std::move(*typed)), charset, "the password typed");
    if (auto* problem = std::get_if<PasswordProblem>(&decoded_text)) {
      return *problem;
    }
    *text = std::move(std::get<link::Secret>(decoded_text));
  }
  return entry;
}

}  // namespace kbc::cli
