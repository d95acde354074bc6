#include "cli/apply_command.h"

#include <ostream>
#include <vector>

#include "cli/json.h"
#include "cli/receipts.h"
#include "cli/selection.h"
#include "console/apply.h"
#include "console/messages.h"
#include "link/recorders.h"
#include "link/trace.h"

namespace kbc::cli {
namespace {

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

int apply(const Options& options, const std::optional<std::string>& serial,
          const console::Profile& profile, link::Link link, const link::Secret& password,
          console::Clock& clock, const Io& io, console::AuditTrail* trail) {
  // A password the console would refuse before the bus is refused here once, not per recorder.
  if (const auto failure = console::pre_check_failure(console::PreCheck::full,
                                                      link::GbkText::from_utf8(password.view()))) {
    return nothing_sent(io, options.json, *failure, kUsage);
  }
  const Chosen chosen = choose(options, serial, link, io);
  if (chosen.status == kNoRecorder) {
    // A recorder named and gone is still the one the operator addressed.
    if (options.device) {
      console::enter_gone(trail, *options.device, profile);
    }
    return nothing_sent(io, options.json, console::msg::reconnect, kNoRecorder);
  }
  if (chosen.status != kSucceeded) {
    return nothing_sent(io, options.json, std::nullopt, chosen.status);
  }

  std::size_t ok = 0, reached = 0;
  console::apply_and_enter(link, chosen.targets, profile, password, clock, trail,
                           [&](console::Receipt receipt) {
                             ok += receipt.ok();
                             reached += receipt.reached();
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
