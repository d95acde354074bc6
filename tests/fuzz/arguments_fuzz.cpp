// The command line, one argument per zero byte: a run always has a command and at most one way
// of choosing the recorder, list chooses none, an error always says something, and no password
// option is ever taken.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/options.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using kbc::cli::Parsed;
  std::vector<std::string> args(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.emplace_back();
    } else {
      args.back().push_back(static_cast<char>(data[i]));
    }
  }
  const Parsed parsed = kbc::cli::parse_arguments(args);
  switch (parsed.action) {
    case Parsed::Action::run:
      kbc::fuzz::check(parsed.options.command != nullptr);
      kbc::fuzz::check(!(parsed.options.device && parsed.options.serial));
      break;
    case Parsed::Action::list:
      kbc::fuzz::check(parsed.options.command == nullptr);
      kbc::fuzz::check(!parsed.options.device && !parsed.options.serial);
      break;
    case Parsed::Action::usage_error:
      kbc::fuzz::check(!parsed.error.empty());
      break;
    default:
      break;
  }
  return 0;
}
