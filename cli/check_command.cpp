#include "cli/check_command.h"

#include <algorithm>
#include <filesystem>
#include <ostream>

#include "cli/json.h"
#include "console/printable.h"
#include "evidence/bag_check.h"

namespace kbc::cli {
namespace {

// "bag/", as a shell completes it, and "." name the folder itself.
std::filesystem::path bag_folder(const std::string& given) {
  std::error_code unknown_cwd;
  std::filesystem::path bag = std::filesystem::absolute(given, unknown_cwd).lexically_normal();
  if (!bag.has_filename()) {
    bag = bag.parent_path();
  }
  return bag;
}

// How a bag stands: its check, and what the journal says of its tag manifest.
enum class Standing { intact, unconfirmed, damaged };

int status_of(Standing standing) {
  switch (standing) {
    case Standing::intact:
      return kSucceeded;
    case Standing::unconfirmed:
      return kUnconfirmed;
    case Standing::damaged:
      break;
  }
  return kFailed;
}

}  // namespace

int check(const Options& options, journal::AuditSource* source, const Io& io) {
  Standing worst = Standing::intact;
  for (const std::string& given : options.bags) {
    const std::filesystem::path bag = bag_folder(given);
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
        if ((record.action == "offload-bag" || record.action == "offload-set-aside") &&
            record.outcome == "ok" && sha != record.fields.end()) {
          entered = sha->second;
        }
      });
    }
    std::optional<std::string> unconfirmed;
    if (unread) {
      unconfirmed = "the journal cannot be read, so it cannot confirm the bag: " + *unread;
    } else if (!entered) {
      unconfirmed = "the journal has no entry of this bag being verified";
    } else if (*entered != found.tagmanifest_sha256.value_or("")) {
      problems.push_back(
          "the tag manifest is not the one the journal entered when the bag was verified");
    }
    const Standing standing = !found.intact() || !problems.empty() ? Standing::damaged
                              : unconfirmed                        ? Standing::unconfirmed
                                                                   : Standing::intact;
    worst = std::max(worst, standing);
    if (unconfirmed) {
      problems.push_back(*unconfirmed);
    }
    if (options.json) {
      io.out << "{\"bag\":" << json_string(given)
             << ",\"intact\":" << (standing == Standing::intact ? "true" : "false")
             << ",\"confirmed\":" << (unconfirmed ? "false" : "true")
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
                       (standing == Standing::intact ? "intact, " + counted
                        : standing == Standing::unconfirmed
                            ? "manifests match (" + counted + "), not confirmed by the journal"
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
  return status_of(worst);
}

int check_remote(const Options& options, const upload::UploadQueue& queue,
                 const upload::UploadRun& run, const Io& io) {
  bool all_there = true;
  for (const std::string& given : options.bags) {
    const std::vector<std::string> problems = upload::check_remote(bag_folder(given), queue, run);
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
