#include "cli/offload_command.h"

#include <cstdio>
#include <mutex>
#include <ostream>
#include <vector>

#include "cli/json.h"
#include "cli/selection.h"
#include "console/erase_guard.h"
#include "console/messages.h"
#include "console/printable.h"
#include "evidence/bag_check.h"
#include "journal/fields.h"
#include "link/recorders.h"

namespace kbc::cli {
namespace {

using evidence::Offloaded;
using evidence::OffloadStatus;
using evidence::Stage;

// "12/132 files, 1.2 GB/3.8 GB, 85.3 MB/s, 0:31 left"
std::string progress_text(const OffloadStatus& status) {
  std::string text(evidence::stage_text(status.stage));
  if (status.stage != Stage::copying && status.stage != Stage::verifying) {
    return text;
  }
  text += "  " + std::to_string(status.files_done) + "/" + std::to_string(status.files_total) +
          " 个文件  " + console::size_text(status.bytes_done) + "/" +
          console::size_text(status.bytes_total);
  if (const std::optional<long long> left = status.seconds_left()) {
    char tail[96];
    std::snprintf(tail, sizeof tail, "  %.1f MB/s  剩余 %lld:%02lld", status.rate() / 1e6,
                  *left / 60, *left % 60);
    text += tail;
  }
  return text;
}

// A line per recorder on a terminal's standard error, rewritten in place as the recorders go.
// Its caller holds the command's output lock.
class ProgressBoard {
 public:
  ProgressBoard(const Io& io, std::vector<std::string> names)
      : io_(io), names_(std::move(names)), lines_(names_) {}

  void update(std::size_t index, const OffloadStatus& status) {
    lines_[index] = names_[index] +
                    (status.serial.empty() ? "" : " " + console::printable(status.serial)) + "  " +
                    progress_text(status);
    if (drawn_) {
      io_.err << "\x1b[" << lines_.size() << "A";
    }
    for (const std::string& line : lines_) {
      io_.err << "\r\x1b[K" << io_.charset.from_utf8(line) << '\n';
    }
    io_.err << std::flush;
    drawn_ = true;
  }

 private:
  const Io& io_;
  std::vector<std::string> names_;
  std::vector<std::string> lines_;
  bool drawn_ = false;
};

std::string file_json(const std::string& location, const std::string& serial,
                      const evidence::FileDone& done) {
  return "{\"event\":\"file\",\"location\":" + json_string(location) +
         ",\"serial\":" + json_string(serial) + ",\"path\":" + json_string(done.file.path) +
         ",\"size\":" + std::to_string(done.file.size) + ",\"sha256\":\"" + done.sha256 +
         "\",\"kept\":" + (done.kept ? "true" : "false") + "}";
}

std::string recorder_json(const Offloaded& receipt) {
  const evidence::BagOutcome& bag = receipt.bag;
  const std::vector<std::string> problems = bag.problem_lines(false);
  return "{\"event\":\"recorder\",\"location\":" + json_string(receipt.location) + ",\"serial\":" +
         json_or_null(receipt.serial.empty() ? std::nullopt : std::optional(receipt.serial)) +
         ",\"ok\":" + (receipt.ok() ? "true" : "false") + ",\"stage\":\"" +
         std::string(evidence::stage_name(receipt.stage)) +
         "\",\"report\":" + json_or_null(receipt.report) + ",\"bag\":" +
         json_or_null(bag.path.empty() ? std::nullopt : std::optional(bag.path.string())) +
         ",\"files\":" + std::to_string(bag.files) + ",\"bytes\":" + std::to_string(bag.bytes) +
         ",\"kept\":" + std::to_string(bag.kept) + ",\"tagmanifest_sha256\":" +
         json_or_null(bag.tagmanifest_sha256.empty() ? std::nullopt
                                                     : std::optional(bag.tagmanifest_sha256)) +
         ",\"problems\":" + json_strings(problems) + "}";
}

// "001/005 KBC0001: verified", then the receipt's lines.
std::string receipt_text(const Offloaded& receipt) {
  std::string text = console::printable(receipt.location) + " " +
                     (receipt.serial.empty() ? "-" : console::printable(receipt.serial)) + ": " +
                     std::string(evidence::stage_name(receipt.stage)) + "\n";
  for (const std::string& line : receipt.lines()) {
    text += "  " + console::printable(line) + "\n";
  }
  return text;
}

// What the command says when it sends nothing.
int nothing_sent(const Io& io, bool json, std::optional<std::string_view> line, int status) {
  if (json) {
    std::vector<std::string> lines;
    if (line) {
      lines.emplace_back(*line);
    }
    io.out << report_json(false, lines) << '\n' << std::flush;
  } else if (line) {
    io.out << io.charset.from_utf8(*line) << '\n' << std::flush;
  }
  return status;
}

}  // namespace

int offload(const Options& options, const std::optional<std::string>& serial, link::Link link,
            const std::optional<link::Secret>& password, const evidence::OffloadSettings& settings,
            const Io& io) {
  std::vector<std::string> names;
  std::vector<std::string> serials;
  std::vector<console::Target> targets;
  if (options.from) {
    names.push_back(*options.from);
    serials.push_back(serial.value_or(""));
  } else {
    if (const auto failure = console::pre_check_failure(
            console::PreCheck::full, link::GbkText::from_utf8(password->view()))) {
      return nothing_sent(io, options.json, *failure, kUsage);
    }
    Chosen chosen = choose_recorders(options, serial, link, io);
    if (chosen.status == kNoRecorder) {
      return nothing_sent(io, options.json, console::msg::reconnect, kNoRecorder);
    }
    if (chosen.status != kSucceeded) {
      return nothing_sent(io, options.json, std::nullopt, chosen.status);
    }
    targets = std::move(chosen.targets);
    for (const console::Target& target : targets) {
      names.push_back(target.device.location());
      serials.push_back(target.serial ? target.serial->to_utf8() : std::string());
    }
  }

  std::optional<ProgressBoard> board;
  if (io.err_terminal && !options.json) {
    board.emplace(io, names);
  }
  std::mutex output;
  evidence::OffloadEvents events;
  events.status = [&](std::size_t index, const OffloadStatus& status) {
    const std::lock_guard lock(output);
    if (!status.serial.empty()) {
      serials[index] = status.serial;
    }
    if (board) {
      board->update(index, status);
    }
  };
  if (options.json) {
    events.file_done = [&](std::size_t index, const evidence::FileDone& done) {
      const std::lock_guard lock(output);
      io.out << file_json(names[index], serials[index], done) << '\n' << std::flush;
    };
  }
  std::size_t verified = 0, reached = 0, receipts = 0;
  const auto done = [&](Offloaded receipt) {
    const std::lock_guard lock(output);
    ++receipts;
    verified += receipt.ok();
    reached += receipt.reached;
    io.out << (options.json ? recorder_json(receipt) + '\n'
                            : io.charset.from_utf8(receipt_text(receipt)))
           << std::flush;
  };
  const std::stop_source never;
  if (options.from) {
    done(evidence::offload_from(*options.from, serial.value_or(""), settings, events,
                                never.get_token()));
  } else {
    evidence::offload_recorders(link, targets, *password, settings, events, never.get_token(),
                                done);
  }
  if (verified == receipts) {
    return kSucceeded;
  }
  return reached == 0 ? kNoRecorder : kFailed;
}

int check(const Options& options, journal::AuditSource* source, const Io& io) {
  bool all_intact = true;
  for (const std::string& given : options.bags) {
    // "bag/", as a shell completes it, and "." name the folder itself.
    std::error_code unknown_cwd;
    std::filesystem::path bag = std::filesystem::absolute(given, unknown_cwd).lexically_normal();
    if (!bag.has_filename()) {
      bag = bag.parent_path();
    }
    const evidence::BagCheck found = evidence::check_bag(bag);
    std::vector<std::string> problems = found.problems;
    // The journal's entry of the bag names the tag manifest it was verified with: a bag whose
    // manifests were written again since does not match it.
    std::optional<std::string> entered;
    std::optional<std::string> unread;
    if (source == nullptr) {
      unread = "the journal cannot be read here";
    } else {
      journal::AuditQuery query;
      query.field = {"KBC_BAG_NAME", bag.filename().string()};
      unread = source->read(query, [&](const journal::AuditRecord& record) {
        const auto sha = record.fields.find("KBC_TAGMANIFEST_SHA256");
        if (record.action == "offload-bag" && record.outcome == "ok" &&
            sha != record.fields.end()) {
          entered = sha->second;
        }
      });
    }
    if (unread) {
      problems.push_back("the journal cannot be read: " + *unread);
    } else if (!entered) {
      problems.push_back("the journal has no entry of this bag being verified");
    } else if (*entered != found.tagmanifest_sha256.value_or("")) {
      problems.push_back(
          "the tag manifest is not the one the journal entered when the bag was "
          "verified");
    }
    const bool intact = found.intact() && problems.empty();
    all_intact = all_intact && intact;
    if (options.json) {
      io.out << "{\"bag\":" << json_string(given) << ",\"intact\":" << (intact ? "true" : "false")
             << ",\"files\":" << found.files << ",\"bytes\":" << found.bytes
             << ",\"missing\":" << json_strings(found.missing)
             << ",\"changed\":" << json_strings(found.changed)
             << ",\"added\":" << json_strings(found.added)
             << ",\"problems\":" << json_strings(problems) << "}\n";
      continue;
    }
    const std::string counted =
        std::to_string(found.files) + " files, " + std::to_string(found.bytes) + " bytes";
    std::string text = console::printable(given) + ": " +
                       (intact           ? "intact, " + counted
                        : found.intact() ? "manifests match (" + counted + "), not confirmed"
                                         : std::string("NOT intact")) +
                       "\n";
    for (const auto& [label, paths] :
         {std::pair{"missing", &found.missing}, std::pair{"changed", &found.changed},
          std::pair{"added", &found.added}}) {
      for (const std::string& path : *paths) {
        text += std::string("  ") + label + ": " + console::printable(path) + "\n";
      }
    }
    for (const std::string& problem : problems) {
      text += "  " + console::printable(problem) + "\n";
    }
    io.out << io.charset.from_utf8(text);
  }
  io.out << std::flush;
  return all_intact ? kSucceeded : kFailed;
}

int upload(const Options& options, const evidence::UploadQueue& queue,
           const evidence::UploadRun& run, const Io& io) {
  bool all_stored = true;
  for (const evidence::Uploaded& bag : evidence::drain(queue, run)) {
    if (bag.busy) {
      // Not a failure: the queue is being drained.
      io.err << "kbcctl: " << io.charset.from_utf8(console::printable(*bag.problem)) << '\n';
      break;
    }
    all_stored = all_stored && bag.stored;
    if (options.json) {
      io.out << "{\"bag\":" << json_string(bag.bag)
             << ",\"stored\":" << (bag.stored ? "true" : "false") << ",\"objects\":" << bag.objects
             << ",\"bytes\":" << bag.bytes
             << ",\"permanent\":" << (bag.permanent ? "true" : "false")
             << ",\"problem\":" << json_or_null(bag.problem) << "}\n";
    } else {
      io.out << io.charset.from_utf8(
                    console::printable(bag.bag.empty() ? "the bucket" : bag.bag) + ": " +
                    (bag.stored ? "stored, " + std::to_string(bag.objects) + " objects, " +
                                      std::to_string(bag.bytes) + " bytes"
                                : "not stored: " + console::printable(bag.problem.value_or("")) +
                                      (bag.permanent ? "" : " (tried again at the next upload)")))
             << '\n';
    }
  }
  io.out << std::flush;
  return all_stored ? kSucceeded : kFailed;
}

int check_remote(const Options& options, const evidence::UploadQueue& queue,
                 const evidence::UploadRun& run, const Io& io) {
  bool all_there = true;
  for (const std::string& given : options.bags) {
    const std::vector<std::string> problems = evidence::check_remote(given, queue, run);
    all_there = all_there && problems.empty();
    if (options.json) {
      io.out << "{\"bag\":" << json_string(given)
             << ",\"intact\":" << (problems.empty() ? "true" : "false")
             << ",\"problems\":" << json_strings(problems) << "}\n";
      continue;
    }
    std::string text =
        console::printable(given) + ": " +
        (problems.empty() ? "intact at " + run.settings.endpoint + "/" + run.settings.bucket
                          : std::string("NOT intact at the object store")) +
        "\n";
    for (const std::string& problem : problems) {
      text += "  " + console::printable(problem) + "\n";
    }
    io.out << io.charset.from_utf8(text);
  }
  io.out << std::flush;
  return all_there ? kSucceeded : kFailed;
}

}  // namespace kbc::cli
