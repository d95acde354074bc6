#include "cli/upload_command.h"

#include <ostream>

#include "cli/json.h"
#include "console/printable.h"
#include "evidence/bag_info.h"

namespace kbc::cli {
namespace {

void print_bag(const Options& options, const upload::Uploaded& bag, const Io& io) {
  const std::optional<std::string> deferred =
      bag.deferred_until ? std::optional(evidence::iso_utc(*bag.deferred_until)) : std::nullopt;
  if (options.json) {
    io.out << "{\"bag\":" << json_string(bag.bag)
           << ",\"stored\":" << (bag.stored ? "true" : "false") << ",\"objects\":" << bag.objects
           << ",\"bytes\":" << bag.bytes << ",\"permanent\":" << (bag.permanent ? "true" : "false")
           << ",\"deferred_until\":" << json_or_null(deferred)
           << ",\"problem\":" << json_or_null(bag.problem) << "}\n";
    return;
  }
  if (deferred) {
    io.out << io.charset.from_utf8(console::printable(bag.bag) + ": not tried again before " +
                                   *deferred + ", after failing upload after upload: " +
                                   console::printable(bag.problem.value_or("")))
           << '\n';
    return;
  }
  io.out << io.charset.from_utf8(
                console::printable(bag.bag.empty() ? "the bucket" : bag.bag) + ": " +
                (bag.stored ? "stored, " + std::to_string(bag.objects) + " objects, " +
                                  std::to_string(bag.bytes) + " bytes"
                            : "not stored: " + console::printable(bag.problem.value_or("")) +
                                  (bag.permanent ? "" : " (tried again at the next upload)")))
         << '\n';
}

}  // namespace

int upload(const Options& options, const upload::UploadQueue& queue, const upload::UploadRun& run,
           const Io& io) {
  const upload::Drained drained = upload::drain(queue, run);
  if (drained.busy) {
    // Not a failure: the queue is being drained.
    io.err << "kbcctl: " << io.charset.from_utf8(console::printable(*drained.busy)) << '\n';
    return kSucceeded;
  }
  for (const std::string& line : drained.repaired.done) {
    if (options.json) {
      io.out << "{\"repaired\":" << json_string(line) << "}\n";
    } else {
      io.out << io.charset.from_utf8(console::printable(line)) << '\n';
    }
  }
  for (const std::string& problem : drained.repaired.problems) {
    io.err << io.charset.from_utf8("kbcctl: " + console::printable(problem)) << '\n';
  }
  bool all_stored = drained.repaired.problems.empty();
  if (drained.bucket) {
    print_bag(options, *drained.bucket, io);
    all_stored = false;
  }
  for (const upload::Uploaded& bag : drained.bags) {
    all_stored = all_stored && bag.stored;
    print_bag(options, bag, io);
  }
  io.out << std::flush;
  return all_stored ? kSucceeded : kFailed;
}

}  // namespace kbc::cli
