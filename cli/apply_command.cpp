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

}  // namespace

int apply(const Options& options, const std::optional<std::string>& serial,
          const console::Profile& profile, link::Link link, const link::Secret& password,
          console::Clock& clock, const Io& io, console::AuditTrail* trail) {
  // A password the console would refuse before the bus is refused here once, not per recorder.
  if (const auto failure = console::pre_check_failure(console::PreCheck::full,
                                                      link::GbkText::from_utf8(password.view()))) {
    return nothing_sent(io, options.json, *failure, kUsage);
  }
  const Chosen chosen = choose_recorders(options, serial, link, io);
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
