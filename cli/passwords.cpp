#include "cli/passwords.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <istream>
#include <vector>

namespace kbc::cli {
namespace {

// The current password, then the change dialog's old, new and confirmed ones.
constexpr std::size_t kChangeLines = 4;

std::variant<std::vector<std::string>, PasswordProblem> read_lines(const PasswordSources& sources,
                                                                   std::size_t count) {
  const std::string& file = *sources.file;
  const bool from_stdin = file == "-";
  const std::string name = from_stdin ? "standard input" : "password file '" + file + "'";

  std::ifstream opened;
  if (!from_stdin) {
    std::error_code error;
    if (std::filesystem::is_directory(file, error)) {
      return PasswordProblem{name + " is a directory"};
    }
    opened.open(file);
    if (!opened) {
      return PasswordProblem{"cannot read " + name + ": " + std::strerror(errno)};
    }
  }
  std::istream& stream = from_stdin ? sources.in : opened;

  std::vector<std::string> lines;
  std::string line;
  while (lines.size() < count && std::getline(stream, line)) {
    if (line.ends_with('\r')) {
      line.pop_back();
    }
    lines.push_back(line);
  }
  if (lines.empty()) {
    return PasswordProblem{name + " holds no password"};
  }
  if (lines.size() < count) {
    return PasswordProblem{name + " has no line " + std::to_string(lines.size() + 1) +
                           ": passwd reads the password, the old one, the new one and the new "
                           "one again from lines 1 to 4"};
  }
  return lines;
}

}  // namespace

std::variant<Passwords, PasswordProblem> gather_passwords(const PasswordSources& sources,
                                                          bool change) {
  if (sources.file) {
    auto read = read_lines(sources, change ? kChangeLines : 1);
    if (auto* problem = std::get_if<PasswordProblem>(&read)) {
      return *problem;
    }
    auto& lines = std::get<std::vector<std::string>>(read);
    Passwords passwords{lines[0], std::nullopt};
    if (change) {
      passwords.change = console::PasswordEntry{lines[1], lines[2], lines[3]};
    }
    return passwords;
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
    return Passwords{*sources.environment, std::nullopt};
  }
  std::optional<std::string> typed = sources.terminal->read_secret("Password: ");
  if (!typed) {
    return PasswordProblem{"no password typed"};
  }
  return Passwords{std::move(*typed), std::nullopt};
}

std::optional<console::PasswordEntry> prompt_change(Terminal& terminal, std::string_view title) {
  terminal.note(title);
  console::PasswordEntry entry;
  for (auto [prompt, text] : {std::pair{"Old password: ", &entry.old_password},
                              std::pair{"New password: ", &entry.new_password},
                              std::pair{"New password again: ", &entry.confirmation}}) {
    std::optional<std::string> typed = terminal.read_secret(prompt);
    if (!typed) {
      return std::nullopt;
    }
    *text = std::move(*typed);
  }
  return entry;
}

}  // namespace kbc::cli
