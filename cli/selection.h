// Which recorder kbcctl talks to: the drawer as `list` shows it, the one --serial names, and what
// it says when several are connected and none is chosen.
#pragma once

#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/charset.h"
#include "cli/options.h"
#include "cli/run.h"
#include "console/apply.h"
#include "link/recorders.h"

namespace kbc::cli {

// One line per recorder in bus order: its location, a tab, its serial number shown as text ("-"
// when get_sn failed). UTF-8.
std::string recorder_lines(std::span<const link::ListedRecorder> recorders);

// [{"location":"001/005","serial":"KBC0001234"},...], null for an unknown serial; [] for none.
std::string recorders_json(std::span<const link::ListedRecorder> recorders);

// The one recorder whose serial number is `serial` (UTF-8), looked up with get_sn in sessions of
// their own; its device stays valid until the next scan. nullopt when none or several have it,
// after saying so on `err`, in the terminal's character set, with the recorders listed.
std::optional<link::ListedRecorder> find_by_serial(link::Link& link, std::string_view serial,
                                                   std::ostream& err, const Charset& charset);

// Says on `err` that several recorders are connected and none was chosen, and lists them.
void list_unchosen(link::Link& link, std::ostream& err, const Charset& charset);

struct Chosen {
  std::vector<console::Target> targets;
  int status = 0;  // anything else: nothing is to be sent, and this is the exit status
};

// The recorders the options name, from one scan: --serial (given here in UTF-8; with the serial
// numbers read), --device, every one with --all, else the only one. What kept it from any is said
// on standard error.
Chosen choose_recorders(const Options& options, const std::optional<std::string>& serial,
                        link::Link& link, const Io& io);

}  // namespace kbc::cli
