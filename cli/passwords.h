// Where kbcctl finds passwords, never on the command line: the lines of --password-file ("-" for
// standard input), else KBC_PASSWORD, else a prompt without echo on the terminal. Every source is
// read in the terminal's character set and with a bound; every copy is a link::Secret.
#pragma once

#include <chrono>
#include <iosfwd>
#include <optional>
#include <string>
#include <variant>

#include "cli/charset.h"
#include "cli/terminal.h"
#include "console/password_dialog.h"
#include "link/secret.h"

namespace kbc::cli {

// How long a password file or standard input that gives nothing is waited on: a word on standard
// error after `notice`, a usage error after `limit`.
struct SourceWait {
  std::chrono::milliseconds notice{2000};
  std::chrono::milliseconds limit{120000};
};

struct PasswordSources {
  std::optional<std::string> file;          // --password-file
  std::optional<link::Secret> environment;  // KBC_PASSWORD
  int in;                                   // standard input, for the file "-"
  Terminal* terminal;                       // nullptr: the process has none
  const Charset& charset;                   // of every source but a file with a UTF-8 BOM
  std::ostream& err;                        // for the word while a source keeps silent
  SourceWait wait;
};

struct Passwords {
  link::Secret current;  // for the console's password field
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

// Asks for the dialog's three fields under its title.
std::variant<console::PasswordEntry, PasswordProblem> prompt_change(Terminal& terminal,
                                                                    const Charset& charset,
                                                                    std::string_view title);

}  // namespace kbc::cli
