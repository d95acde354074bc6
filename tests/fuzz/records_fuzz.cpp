// The store's own records as a crash, a full disk or an insider may leave them: a manifest, a
// bag's .kbc-progress, an upload's state file. Whatever they hold, each reader takes only whole
// lines of its own form, and a manifest line it takes is written back as it was read.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "evidence/manifest.h"
#include "evidence/progress.h"
#include "fuzz_check.h"
#include "upload/queue.h"

namespace {

const std::filesystem::path& record_file() {
  static const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("kbc-fuzz-record-" + std::to_string(::getpid()));
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using kbc::fuzz::check;
  const std::string text(reinterpret_cast<const char*>(data), size);

  const kbc::evidence::Manifest manifest = kbc::evidence::parse_manifest(text);
  for (const kbc::evidence::ManifestLine& line : manifest.lines) {
    check(kbc::evidence::is_sha256_hex(line.sha256) && !line.path.empty());
    const kbc::evidence::Manifest again =
        kbc::evidence::parse_manifest(kbc::evidence::manifest_line(line.sha256, line.path));
    check(again.lines.size() == 1 && again.lines[0].path == line.path && again.bad_lines.empty());
  }

  std::ofstream(record_file(), std::ios::binary | std::ios::trunc) << text;
  const kbc::evidence::Progress progress = kbc::evidence::read_progress(record_file());
  for (const auto& [path, entry] : progress.files) {
    check(!path.empty() && (!entry.whole || kbc::evidence::is_sha256_hex(entry.sha256)));
  }
  const kbc::upload::QueueState state = kbc::upload::read_state(record_file());
  check(!state.bag || state.bag->is_relative());
  for (const auto& [key, object] : state.objects) {
    check(!key.empty() && kbc::evidence::is_sha256_hex(object.sha256) && !object.version.empty());
  }
  return 0;
}
