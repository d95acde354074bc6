// Runs programs on the emulated bus from a test: umockdev-wrapper kbc-emulated-bus ARGUMENTS...,
// waiting for it and capturing what it and its programs print.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kbc::emulated {

struct BusRun {
  bool started = false;  // false: umockdev-wrapper or the bus could not be run at all; see errors
  int status = -1;
  std::string output;  // standard output of the programs
  std::string errors;  // standard error of the bus and the programs
};

// `arguments` are the bus's own: options, "--", then the programs.
BusRun run_on_bus(const std::vector<std::string>& arguments);

// The bus program without umockdev-wrapper, to see it refuse.
BusRun run_bus_directly(const std::vector<std::string>& arguments);

// Any program, off the bus: `argv` with the program first.
BusRun run_program(std::vector<std::string> argv);

// A fresh directory for a test's files, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  ~ScratchDir();
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace kbc::emulated
