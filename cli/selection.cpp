#include "cli/selection.h"

#include <ostream>
#include <vector>

#include "cli/json.h"
#include "console/messages.h"
#include "console/printable.h"
#include "link/trace.h"

namespace kbc::cli {
namespace {

std::optional<std::string> serial_text(const link::ListedRecorder& recorder) {
  if (!recorder.serial) {
    return std::nullopt;
  }
  return recorder.serial->to_utf8();
}

}  // namespace

std::string recorder_lines(std::span<const link::ListedRecorder> recorders) {
  std::string text;
  for (const link::ListedRecorder& recorder : recorders) {
    const std::optional<std::string> serial = serial_text(recorder);
    text += recorder.device.location() + '\t' + (serial ? console::printable(*serial) : "-") + '\n';
  }
  return text;
}

std::string recorders_json(std::span<const link::ListedRecorder> recorders) {
  std::string text = "[";
  for (const link::ListedRecorder& recorder : recorders) {
    const std::optional<std::string> serial = serial_text(recorder);
    text += text.size() > 1 ? "," : "";
    text += R"({"location":)" + json_string(recorder.device.location()) + R"(,"serial":)" +
            json_or_null(serial) + "}";
  }
  return text + "]";
}

std::optional<link::ListedRecorder> find_by_serial(link::Link& link, std::string_view serial,
                                                   std::ostream& err, const Charset& charset) {
  const std::vector<link::ListedRecorder> recorders = link::list_recorders(link);
  std::vector<const link::ListedRecorder*> matches;
  for (const link::ListedRecorder& recorder : recorders) {
    if (serial_text(recorder) == serial) {
      matches.push_back(&recorder);
    }
  }
  if (matches.size() == 1) {
    return *matches.front();
  }
  std::string quoted(1, '\'');
  quoted.append(console::printable(serial)).append("'");
  std::string text;
  if (matches.empty()) {
    text = "kbcctl: no recorder has the serial number " + quoted +
           (recorders.empty() ? "; no recorder is connected\n" : "; the recorders connected:\n");
  } else {
    text = "kbcctl: " + std::to_string(matches.size()) + " recorders have the serial number " +
           quoted + "; choose one with --device LOCATION:\n";
  }
  err << charset.from_utf8(text + recorder_lines(recorders)) << std::flush;
  return std::nullopt;
}

void list_unchosen(link::Link& link, std::ostream& err, const Charset& charset) {
  const std::vector<link::ListedRecorder> recorders = link::list_recorders(link);
  err << charset.from_utf8(
             "kbcctl: several recorders are connected and none is chosen; choose one with "
             "--device LOCATION or --serial SERIAL:\n" +
             recorder_lines(recorders))
      << std::flush;
}

Chosen choose_recorders(const Options& options, const std::optional<std::string>& serial,
                        link::Link& link, const Io& io) {
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

}  // namespace kbc::cli
