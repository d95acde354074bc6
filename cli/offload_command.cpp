#include "cli/offload_command.h"

#include <cstdio>
#include <mutex>
#include <ostream>
#include <vector>

#include "cli/json.h"
#include "cli/selection.h"
#include "console/erase_guard.h"
#include "console/messages.h"
#include "console/offload_messages.h"
#include "console/printable.h"
#include "journal/fields.h"
#include "link/recorders.h"

namespace kbc::cli {
namespace {

using offload::Offloaded;
using offload::OffloadStatus;
using offload::Stage;

// "12/132 files, 1.2 GB/3.8 GB, 85.3 MB/s, 0:31 left"
std::string progress_text(const OffloadStatus& status) {
  std::string text(offload::stage_text(status.stage));
  if (status.stage != Stage::copying && status.stage != Stage::verifying) {
    return text;
  }
  text += "  " + std::to_string(status.files_done) + "/" + std::to_string(status.files_total) +
          std::string(console::msg::progress_files) + console::size_text(status.bytes_done) + "/" +
          console::size_text(status.bytes_total);
  if (const std::optional<long long> left = status.seconds_left()) {
    char tail[96];
    std::snprintf(tail, sizeof tail, console::msg::progress_rate_format, status.rate() / 1e6,
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

// The bags of files the recorder no longer held, made on the way.
std::string set_aside_json(const std::vector<evidence::SetAsideBag>& bags) {
  std::string json = "[";
  for (const evidence::SetAsideBag& bag : bags) {
    json += (json.size() > 1 ? "," : "") + std::string("{\"bag\":") +
            json_string(bag.path.string()) + ",\"verified\":" + (bag.verified ? "true" : "false") +
            ",\"files\":" + std::to_string(bag.files) + ",\"bytes\":" + std::to_string(bag.bytes) +
            "}";
  }
  return json + "]";
}

std::string recorder_json(const Offloaded& receipt) {
  const evidence::BagOutcome& bag = receipt.bag;
  std::vector<std::string> problems = evidence::english_lines(bag.problems);
  for (const evidence::SetAsideBag& aside : bag.set_aside) {
    for (const std::string& line : evidence::english_lines(aside.problems)) {
      problems.push_back(aside.name + ": " + line);
    }
  }
  return "{\"event\":\"recorder\",\"location\":" + json_string(receipt.location) + ",\"serial\":" +
         json_or_null(receipt.serial.empty() ? std::nullopt : std::optional(receipt.serial)) +
         ",\"ok\":" + (receipt.ok() ? "true" : "false") + ",\"stage\":\"" +
         std::string(offload::stage_name(receipt.stage)) +
         "\",\"report\":" + json_or_null(receipt.report) + ",\"bag\":" +
         json_or_null(bag.path.empty() ? std::nullopt : std::optional(bag.path.string())) +
         ",\"files\":" + std::to_string(bag.files) + ",\"bytes\":" + std::to_string(bag.bytes) +
         ",\"kept\":" + std::to_string(bag.kept) + ",\"tagmanifest_sha256\":" +
         json_or_null(bag.tagmanifest_sha256.empty() ? std::nullopt
                                                     : std::optional(bag.tagmanifest_sha256)) +
         ",\"set_aside\":" + set_aside_json(bag.set_aside) +
         ",\"problems\":" + json_strings(problems) + "}";
}

// "001/005 KBC0001: verified", then the receipt's lines.
std::string receipt_text(const Offloaded& receipt) {
  std::string text = console::printable(receipt.location) + " " +
                     (receipt.serial.empty() ? "-" : console::printable(receipt.serial)) + ": " +
                     std::string(offload::stage_name(receipt.stage)) + "\n";
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
            const std::optional<link::Secret>& password, const offload::OffloadSettings& settings,
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
  offload::OffloadEvents events;
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
    done(offload::offload_from(*options.from, serial.value_or(""), settings, events,
                               never.get_token()));
  } else {
    offload::offload_recorders(link, targets, *password, settings, events, never.get_token(), done);
  }
  if (verified == receipts) {
    return kSucceeded;
  }
  return reached == 0 ? kNoRecorder : kFailed;
}

}  // namespace kbc::cli
