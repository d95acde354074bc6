#include "emulated_run.h"

#include <glib.h>
#include <sys/wait.h>

#include <stdexcept>
#include <system_error>

namespace kbc::emulated {

BusRun run_program(std::vector<std::string> argv) {
  BusRun run;
  // umockdev's preload comes before the sanitizer runtime in a sanitized build; the order does
  // not matter to either.
  g_auto(GStrv) env = g_get_environ();
  const char* asan = g_environ_getenv(env, "ASAN_OPTIONS");
  const std::string asan_options = std::string(asan != nullptr ? asan : "") +
                                   (asan != nullptr && *asan ? ":" : "") +
                                   "verify_asan_link_order=0";
  env = g_environ_setenv(env, "ASAN_OPTIONS", asan_options.c_str(), TRUE);

  std::vector<char*> args;
  for (std::string& arg : argv) {
    args.push_back(arg.data());
  }
  args.push_back(nullptr);
  g_autofree char* out = nullptr;
  g_autofree char* err = nullptr;
  int wait_status = 0;
  g_autoptr(GError) error = nullptr;
  if (!g_spawn_sync(nullptr, args.data(), env, G_SPAWN_DEFAULT, nullptr, nullptr, &out, &err,
                    &wait_status, &error)) {
    run.errors = std::string("cannot run ") + argv.front() + ": " + error->message;
    return run;
  }
  run.started = true;
  run.output = out != nullptr ? out : "";
  run.errors = err != nullptr ? err : "";
  run.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
  return run;
}

BusRun run_on_bus(const std::vector<std::string>& arguments) {
  g_autofree char* wrapper = g_find_program_in_path("umockdev-wrapper");
  if (wrapper == nullptr) {
    BusRun run;
    run.errors = "umockdev-wrapper is not installed; scripts/setup installs it";
    return run;
  }
  std::vector<std::string> argv{wrapper, KBC_EMULATED_BUS};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return run_program(std::move(argv));
}

BusRun run_bus_directly(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{KBC_EMULATED_BUS};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return run_program(std::move(argv));
}

ScratchDir::ScratchDir() {
  g_autoptr(GError) error = nullptr;
  g_autofree char* path = g_dir_make_tmp("kbc-emulated-XXXXXX", &error);
  if (path == nullptr) {
    throw std::runtime_error(std::string("cannot make a scratch directory: ") + error->message);
  }
  path_ = path;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace kbc::emulated
