#include "cli/apply_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ostream>
#include <vector>

#include "cli/json.h"
#include "cli/receipts.h"
#include "cli/selection.h"
#include "console/apply.h"
#include "console/messages.h"
#include "link/descriptor.h"
#include "link/recorders.h"
#include "link/trace.h"

namespace kbc::cli {
namespace {

// The file's bytes, or why they cannot be had. Only a regular file is read: a FIFO or a device
// could keep kbcctl waiting or give no end.
std::variant<std::string, std::string> file_text(const std::string& path) {
  const link::Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat status {};
  if (file.get() < 0 || ::fstat(file.get(), &status) != 0) {
    return std::variant<std::string, std::string>(std::in_place_index<1>, std::strerror(errno));
  }
  if (!S_ISREG(status.st_mode)) {
    return std::variant<std::string, std::string>(std::in_place_index<1>, "not a regular file");
  }
  std::string text(kMostProfileBytes + 1, '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    const ssize_t n = ::read(file.get(), text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      return std::variant<std::string, std::string>(std::in_place_index<1>, std::strerror(errno));
    }
    if (n == 0) {
      break;
    }
    got += static_cast<std::size_t>(n);
  }
  if (got > kMostProfileBytes) {
    return std::variant<std::string, std::string>(
        std::in_place_index<1>, "larger than " + std::to_string(kMostProfileBytes / 1024) +
                                    " KiB, too large for a profile");
  }
  text.resize(got);
  return std::variant<std::string, std::string>(std::in_place_index<0>, std::move(text));
}

// What the command says when it sends nothing: the console's report line where it has one.
int nothing_sent(const Io& io, bool json, std::optional<std::string_view> line, int status) {
  std::vector<std::string> lines;
  if (line) {
    lines.emplace_back(*line);
  }
  if (json) {
    io.out << report_json(false, lines) << '\n' << std::flush;
  } else if (line) {
    io.out << io.charset.from_utf8(*line) << '\n' << std::flush;
  }
  return status;
}

struct Chosen {
  std::vector<console::Target> targets;
  int status = kSucceeded;  // anything else: nothing is to be sent, and this is the exit status
};

// The recorders the options name, from one scan (--serial: with the serial numbers read).
Chosen choose(const Options& options, const std::optional<std::string>& serial, link::Link& link,
              const Io& io) {
  Chosen chosen;
  if (serial) {
    std::optional<link::ListedRecorder> found = find_by_serial(link, *serial, io.err, io.charset);
    if (!found) {
      chosen.status = kSelection;
      return chosen;
    }
    chosen.targets.push_back({std::move(found->device), std::move(found->serial)});
    return chosen;
  }
  std::vector<link::UsbDevice> recorders = link::scan_recorders(link);
  if (options.device) {
    std::erase_if(recorders,
                  [&](const link::UsbDevice& d) { return d.location() != *options.device; });
    if (recorders.empty()) {
      link::trace("The chosen recorder is not on the bus");
    }
  } else if (!options.all && recorders.size() > 1) {
    io.err << io.charset.from_utf8(console::msg::choose_recorder) << '\n';
    list_unchosen(link, io.err, io.charset);
    chosen.status = kSelection;
    return chosen;
  }
  if (recorders.empty()) {
    link::trace("No recorder found");
    chosen.status = kNoRecorder;
  }
  for (link::UsbDevice& device : recorders) {
    chosen.targets.push_back({std::move(device), std::nullopt});
  }
  return chosen;
}

}  // namespace

std::variant<console::Profile, std::string> read_profile(const std::string& path,
                                                         std::string_view shown_as) {
  auto text = file_text(path);
  const std::string name(shown_as);
  if (text.index() == 1) {
    return name + ": " + std::get<1>(text);
  }
  auto parsed = console::parse_profile(std::get<0>(text));
  if (auto* error = std::get_if<console::ProfileError>(&parsed)) {
    return name + ":" + std::to_string(error->line) + ": " + error->message;
  }
  return std::get<console::Profile>(std::move(parsed));
}

int apply(const Options& options, const std::optional<std::string>& serial,
          const console::Profile& profile, link::Link link, const link::Secret& password,
          console::Clock& clock, const Io& io, console::AuditTrail* trail) {
  // A password the console would refuse before the bus is refused here once, not per recorder.
  if (const auto failure = console::pre_check_failure(console::PreCheck::full,
                                                      link::GbkText::from_utf8(password.view()))) {
    return nothing_sent(io, options.json, *failure, kUsage);
  }
  const Chosen chosen = choose(options, serial, link, io);
  // Only where it will be kept; the serial numbers are read all the same.
  console::AuditTrail* const entered = trail != nullptr && trail->writable() ? trail : nullptr;
  const auto enter = [&](const console::Receipt& receipt) {
    if (entered != nullptr) {
      if (const auto entry = console::audit_entry(receipt, profile)) {
        entered->write(*entry);
      }
    }
  };
  if (chosen.status == kNoRecorder) {
    // A recorder named and gone is still the one the operator addressed.
    if (options.device) {
      console::Receipt gone;
      gone.location = *options.device;
      gone.report = console::msg::reconnect;
      enter(gone);
    }
    return nothing_sent(io, options.json, console::msg::reconnect, kNoRecorder);
  }
  if (chosen.status != kSucceeded) {
    return nothing_sent(io, options.json, std::nullopt, chosen.status);
  }

  std::size_t ok = 0, reached = 0;
  console::apply_to_recorders(
      link, chosen.targets, profile, password, clock, [&](console::Receipt receipt) {
        ok += receipt.ok();
        reached += receipt.reached();
        enter(receipt);
        io.out << (options.json ? receipt_json(receipt) + '\n'
                                : io.charset.from_utf8(receipt_block(receipt)))
               << std::flush;
      });
  if (ok == chosen.targets.size()) {
    return kSucceeded;
  }
  return reached == 0 ? kNoRecorder : kFailed;
}

}  // namespace kbc::cli
