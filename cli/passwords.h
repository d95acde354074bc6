// Where kbcctl finds passwords, never on the command line: the lines of --password-file ("-" for
// standard input), else KBC_PASSWORD, else a prompt without echo on the terminal.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <variant>

#include "cli/terminal.h"
#include "console/password_dialog.h"

namespace kbc::cli {

struct PasswordSources {
  std::optional<std::string> file;         // --password-file
  std::optional<std::string> environment;  // KBC_PASSWORD
  std::istream& in;                        // for the file "-"
  Terminal* terminal;                      // nullptr: the process has none
};

struct Passwords {
  std::string current;  // for the console's password field
  // passwd: the change dialog's three fields from the file; nullopt when they are to be asked for
  // once the dialog opens.
  std::optional<console::PasswordEntry> change;
};

// Why the passwords could not be had; a usage error, nothing has been sent.
struct PasswordProblem {
  std::string message;
};

// The password of every command and, for passwd (`change`), how the dialog's three are got. Fails
// rather than wait for input that cannot come.
std::variant<Passwords, PasswordProblem> gather_passwords(const PasswordSources& sources,
                                                          bool change);

// Asks for the dialog's three fields under its title; nullopt when a prompt got no answer.
std::optional<console::PasswordEntry> prompt_change(Terminal& terminal, std::string_view title);

}  // namespace kbc::cli
