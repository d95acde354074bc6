#include "cli/run.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ostream>
#include <variant>
#include <vector>

#include "cli/apply_command.h"
#include "cli/audit.h"
#include "cli/check_command.h"
#include "cli/json.h"
#include "cli/offload_command.h"
#include "cli/options.h"
#include "cli/passwords.h"
#include "cli/prune_command.h"
#include "cli/selection.h"
#include "cli/station_command.h"
#include "cli/status_command.h"
#include "cli/terminal_view.h"
#include "cli/undumpable.h"
#include "cli/upload_command.h"
#include "console/control_ids.h"
#include "console/identity.h"
#include "console/printable.h"
#include "console/profile_file.h"
#include "console/setting_tables.h"
#include "evidence/store.h"
#include "link/gbk.h"
#include "link/recorders.h"
#include "link/timing.h"
#include "link/trace.h"
#include "offload/health.h"
#include "offload/ledger.h"
#include "offload/sim_disk_watch.h"
#include "offload/station_file.h"
#include "offload/upload_account.h"
#include "offload/upload_entry.h"
#include "upload/drain.h"

namespace kbc::cli {
namespace {

// The link's trace goes to standard error with --verbose and nowhere otherwise, and back where it
// went before once kbcctl is done.
class TraceRoute {
 public:
  TraceRoute(bool verbose, std::ostream& err)
      : previous_(link::set_trace_sink(verbose ? link::TraceSink([&err](std::string_view line) {
          err << line << '\n' << std::flush;
        })
                                               : link::TraceSink())) {}
  ~TraceRoute() { link::set_trace_sink(std::move(previous_)); }
  TraceRoute(const TraceRoute&) = delete;
  TraceRoute& operator=(const TraceRoute&) = delete;

 private:
  link::TraceSink previous_;
};

// The message may quote what was typed: shown as text, in the terminal's character set.
// Each problem on a line of its own, then the pointer to the help.
int usage(const Io& io, const std::vector<std::string>& problems) {
  for (const std::string& problem : problems) {
    io.err << io.charset.from_utf8("kbcctl: " + console::printable(problem)) << "\n";
  }
  io.err << "Try 'kbcctl --help'.\n";
  return kUsage;
}

int usage(const Io& io, std::string_view message) {
  return usage(io, std::vector{std::string(message)});
}

std::string joined(const std::vector<std::string>& texts) {
  std::string text;
  for (const std::string& part : texts) {
    text += text.empty() ? "" : " ";
    text += part;
  }
  return text;
}

// Picks the item or types the text as the operator would; the reason when the list has no such
// item or the field would not take the text.
std::optional<std::string> place_text(TerminalView& view, console::Console& console,
                                      const Command& command, const std::string& text) {
  const std::string name(command.name);
  const int control = text_control(command);
  if (command.text == TextKind::item) {
    const console::SettingButton& button = *console::setting_button(command.button);
    if (auto refusal = console::item_refusal(button, text)) {
      return name + ": " + refusal->english;
    }
    // An alias picks its item.
    view.select(control, console::find_item(button, text)->text);
    return std::nullopt;
  }

  const std::optional<std::size_t> size = link::gbk_size(text);
  if (!size) {
    return name + ": the text has a character GBK cannot encode";
  }
  const std::optional<int> limit = view.limit(control);
  if (limit && *size > static_cast<std::size_t>(*limit)) {
    return name + ": '" + text + "' is " + std::to_string(*size) +
           " GBK bytes, the field holds at most " + std::to_string(*limit);
  }
  // The field's own filter judges the text; what it says goes into the usage error.
  view.hold();
  view.set_field_text(control, text);
  console.on_field_changed(control);
  const std::vector<std::string> said = view.release();
  if (view.field_text(control) != text) {
    return name + ": the field refuses '" + text + "': " + joined(said);
  }
  return std::nullopt;
}

// The console's button for the command. With --json its reports are kept back and printed as one
// JSON object instead: info's record on success, else {"ok":...,"lines":[...]}.
bool press(const Command& command, bool json, TerminalView& view, console::Console& console,
           std::ostream& out) {
  if (!json) {
    return console.on_command(command.button);
  }
  view.hold();
  std::optional<link::IdentityRecord> record;
  bool succeeded = false;
  if (command.button == idc::device_info) {
    record = console.show_device_info();
    succeeded = record.has_value();
  } else {
    succeeded = console.on_command(command.button);
  }
  const std::vector<std::string> lines = view.release();
  out << (record ? identity_json(*record) : report_json(succeeded, lines)) << '\n' << std::flush;
  return succeeded;
}

// The exit status of a button: 0 on its success report, otherwise what kept it from one.
int status_of(const console::Console& console, bool succeeded) {
  if (succeeded) {
    return kSucceeded;
  }
  switch (console.outcome().value_or(console::Outcome::body_failed)) {
    case console::Outcome::pre_check_failed:
      return kUsage;
    case console::Outcome::no_recorder:
      return kNoRecorder;
    case console::Outcome::recorder_not_chosen:
      return kSelection;
    case console::Outcome::gate_failed:
    case console::Outcome::body_failed:
    case console::Outcome::succeeded:
      break;
  }
  return kFailed;
}

// `audit`: the entries of both programs, oldest first. Exit 1 when the journal cannot be read.
int audit(const Options& options, journal::AuditSource* source, const Io& io) {
  journal::AuditQuery query;
  if (options.since) {
    query.since_usec = parse_since(*options.since, std::chrono::system_clock::now());
    if (!query.since_usec) {
      return usage(io, "--since: '" + *options.since +
                           "' is no time; give one such as 2026-12-08, '2026-12-08 14:30', "
                           "today, yesterday or -2h");
    }
  }
  if (options.serial) {
    query.serial = io.charset.to_utf8(*options.serial);
    if (!query.serial) {
      return usage(io, "--serial: the SERIAL is not valid " + io.charset.name() + " text");
    }
  }
  if (source == nullptr) {
    io.err << "kbcctl: the journal cannot be read here\n";
    return kFailed;
  }
  const std::optional<std::string> failure = source->read(query, [&](const auto& record) {
    io.out << (options.json ? audit_json(record) : io.charset.from_utf8(audit_line(record)))
           << '\n';
  });
  io.out << std::flush;
  if (failure) {
    io.err << io.charset.from_utf8("kbcctl: " + *failure) << '\n';
    return kFailed;
  }
  return kSucceeded;
}

// `list`: every recorder on the bus with its serial number. No password is needed for get_sn.
int list(link::Link& link, bool json, const Io& io) {
  const std::vector<link::ListedRecorder> recorders = link::list_recorders(link);
  io.out << (json ? recorders_json(recorders) + '\n'
                  : io.charset.from_utf8(recorder_lines(recorders)))
         << std::flush;
  return kSucceeded;
}

// --store, else the station file's store, else $XDG_DATA_HOME/kbc-q7/evidence; simulated
// recorders' bags never go to the station's store unless --store names it.
std::filesystem::path store_folder(const Environment& env, const Options& options,
                                   const offload::Station& station) {
  if (options.store) {
    return std::filesystem::absolute(*options.store);
  }
  if (options.simulate > 0) {
    return evidence::simulated_store(env);
  }
  return station.store.value_or(evidence::default_store(env));
}

// The password of a command, or of apply, from its sources; passwd also the dialog's three.
std::variant<Passwords, PasswordProblem> passwords_for(const Environment& env, const Io& io,
                                                       const Options& options, bool change) {
  std::optional<link::Secret> environment;
  if (std::optional<std::string> value = env("KBC_PASSWORD")) {
    environment.emplace(std::move(*value));
  }
  return gather_passwords(
      {options.password_file, environment, io.in, io.terminal, io.charset, io.err, io.wait},
      change);
}

int run_parsed(const Parsed& parsed, const Environment& env, Io& io, const Recorders& recorders,
               const Journal& journal) {
  switch (parsed.action) {
    case Parsed::Action::usage_error:
      return usage(io, parsed.error);
    case Parsed::Action::help:
      io.out << io.charset.from_utf8(help_text()) << std::flush;
      return kSucceeded;
    case Parsed::Action::version:
      io.out << "kbcctl " << KBC_VERSION << '\n' << std::flush;
      return kSucceeded;
    case Parsed::Action::audit:
      return audit(parsed.options, journal.source, io);
    case Parsed::Action::check:
      if (!parsed.options.remote) {
        return check(parsed.options, journal.source, io);
      }
      break;
    case Parsed::Action::station:
      if (parsed.options.station_status) {
        return station_status(parsed.options, io);
      }
      break;
    case Parsed::Action::upload:
    case Parsed::Action::prune:
    case Parsed::Action::status:
    case Parsed::Action::run:
    case Parsed::Action::list:
    case Parsed::Action::apply:
    case Parsed::Action::offload:
      break;
  }
  const Options& options = parsed.options;
  const TraceRoute trace(options.verbose, io.err);
  sim::SimBus* const simulated =
      options.simulate > 0 ? &recorders.simulate(options.simulate) : nullptr;
  link::Link link =
      simulated != nullptr
          ? link::Link{*simulated, recorders.simulated_pause != nullptr ? *recorders.simulated_pause
                                                                        : *simulated}
          : recorders.usb;
  // A simulated recorder's disk is its sample disk, read as a real one is.
  std::optional<offload::SimDiskWatch> simulated_watch;
  if (simulated != nullptr) {
    simulated_watch.emplace(*simulated, offload::simulated_disk_folder());
  }
  offload::DiskWatch* const watch = simulated != nullptr ? &*simulated_watch : recorders.watch;
  if (parsed.action == Parsed::Action::list) {
    return list(link, options.json, io);
  }
  // A recorder's serial number may be any text it holds.
  const std::optional<std::string> serial =
      options.serial ? io.charset.to_utf8(*options.serial) : std::nullopt;
  if (options.serial && !serial) {
    return usage(io, "--serial: the SERIAL is not valid " + io.charset.name() + " text");
  }

  // Simulated recorders hold no evidence: what is done to them is entered nowhere.
  console::AuditTrail* const trail = options.simulate > 0 ? nullptr : journal.trail;
  if (parsed.action == Parsed::Action::apply) {
    // The path as the terminal shows it; bytes that are no text of it are shown escaped.
    const std::string shown = io.charset.to_utf8(*options.profile).value_or(*options.profile);
    auto profile = console::read_profile(*options.profile);
    if (const auto* error = std::get_if<console::ProfileError>(&profile)) {
      std::vector<std::string> lines;
      for (const std::string& line :
           console::problem_lines(*error, shown, console::Language::english)) {
        lines.push_back("apply: " + line);
      }
      return usage(io, lines);
    }
    const Undumpable undumpable;
    auto gathered = passwords_for(env, io, options, false);
    if (const auto* problem = std::get_if<PasswordProblem>(&gathered)) {
      return usage(io, problem->message);
    }
    return apply(options, serial, std::get<console::Profile>(profile), link,
                 std::get<Passwords>(gathered).current, recorders.clock, io, trail);
  }

  // The station's store and its erase rule, for offload and erase.
  std::optional<offload::Station> station;
  std::optional<evidence::Store> store;
  const bool prune_action = parsed.action == Parsed::Action::prune;
  if (parsed.action == Parsed::Action::offload || parsed.action == Parsed::Action::upload ||
      prune_action || parsed.action == Parsed::Action::status ||
      parsed.action == Parsed::Action::check || parsed.action == Parsed::Action::station ||
      (options.command != nullptr && options.command->button == idc::erase)) {
    auto read = offload::read_station({recorders.station_file, env});
    if (auto* problems = std::get_if<std::vector<offload::StationProblem>>(&read)) {
      return usage(io, offload::station_problem_lines(*problems, false));
    }
    station = std::get<offload::Station>(std::move(read));
    store.emplace(store_folder(env, options, *station));
    for (const console::Wording& weakened : station->weakened) {
      io.err << io.charset.from_utf8("kbcctl: " + console::printable(weakened.english)) << '\n';
    }
  }

  // The agency's object store: where verified bags go on to, and what check --remote asks.
  std::optional<upload::UploadQueue> queue;
  if (station && station->upload) {
    queue.emplace(*store);
  }
  const auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
  if (parsed.action == Parsed::Action::status) {
    const offload::Health health = offload::station_health(*station, *store, journal.source, now);
    offload::note_low_space(health, trail);
    return status(options, health, io);
  }
  if (parsed.action == Parsed::Action::offload) {
    // A store low on space is said before the offload fills it further; only then is the rest of
    // the store read, for the days it has left.
    offload::Health room = offload::store_room(*station, *store, now);
    if (room.low_space) {
      room = offload::station_health(*station, *store, nullptr, now);
    }
    if (const auto low = offload::note_low_space(room, trail)) {
      io.err << io.charset.from_utf8("kbcctl: " + console::printable(*low)) << '\n';
    }
  }
  if (prune_action && !station->keep_local) {
    io.out << "the station file has no keep-local: the station keeps every bag\n" << std::flush;
    return kSucceeded;
  }
  if (parsed.action == Parsed::Action::upload || parsed.action == Parsed::Action::check ||
      prune_action) {
    if (!station->upload) {
      return usage(
          io, "the station file has no [upload] table: there is no object store to " +
                  std::string(parsed.action == Parsed::Action::upload ? "upload to" : "check"));
    }
    auto account =
        offload::load_account(*station->upload, env("CREDENTIALS_DIRECTORY").value_or("").c_str());
    if (auto* problem = std::get_if<std::string>(&account)) {
      io.err << io.charset.from_utf8("kbcctl: " + *problem) << '\n';
      return kFailed;
    }
    upload::S3Client client(std::get<upload::S3Account>(std::move(account)));
    link::RealPause pause;
    upload::UploadIo plain;
    upload::UploadEvents events;
    // Each bag's upload enters the trail as it ends, so that a drain cut short has said it.
    const bool entered = trail != nullptr && trail->writable();
    events.finished = [&](const upload::Uploaded& bag) {
      if (entered) {
        trail->write(offload::upload_entry(bag, *station->upload));
      }
    };
    const upload::UploadRun run{
        client, *station->upload,
        pause,  plain,
        events, std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now())};
    if (prune_action) {
      const upload::PruneRun pruning{run, *station->keep_local, options.dry_run,
                                     [&](const upload::Pruned& bag) {
                                       if (entered) {
                                         trail->write(offload::prune_entry(bag, *station->upload));
                                       }
                                     }};
      return prune(options, *queue, pruning, io);
    }
    return parsed.action == Parsed::Action::upload ? upload(options, *queue, run, io)
                                                   : check_remote(options, *queue, run, io);
  }

  // Where an offload, kbcctl's or the service's, puts its bags, enters them and waits.
  const auto offload_settings = [&](console::AuditTrail* entered) {
    offload::OffloadSettings settings{*store, "kbcctl " KBC_VERSION};
    settings.trail = entered;
    settings.watch = watch;
    settings.upload = queue ? &*queue : nullptr;
    settings.disk_wait = station->disk_timeout;
    return settings;
  };
  if (parsed.action == Parsed::Action::offload) {
    std::optional<link::Secret> password;
    const Undumpable undumpable;
    if (!options.from) {
      auto gathered = passwords_for(env, io, options, false);
      if (const auto* problem = std::get_if<PasswordProblem>(&gathered)) {
        return usage(io, problem->message);
      }
      password = std::get<Passwords>(std::move(gathered)).current;
    }
    return offload(options, serial, link, password, offload_settings(trail), io);
  }

  if (parsed.action == Parsed::Action::station) {
    // The keys are held from here to the end.
    const Undumpable undumpable;
    station::RecorderKeys keys;
    if (station->recorder_keys || env("CREDENTIALS_DIRECTORY") || !simulated) {
      const std::optional<std::string> credentials = env("CREDENTIALS_DIRECTORY");
      auto read =
          station::read_recorder_keys(station->recorder_keys.value_or(station::kSystemKeysFile),
                                      credentials ? credentials->c_str() : nullptr);
      if (auto* problem = std::get_if<std::string>(&read)) {
        io.err << io.charset.from_utf8("kbcctl: recorder-keys: " + console::printable(*problem))
               << '\n';
        return kUsage;
      }
      keys = std::get<station::RecorderKeys>(std::move(read));
    } else {
      // The simulated recorders' own administrator password, where no keys are named.
      keys = station::RecorderKeys(link::Secret("888888"), {});
    }
    std::optional<console::Profile> profile;
    if (station->profile) {
      auto read = console::read_profile(station->profile->string());
      if (const auto* error = std::get_if<console::ProfileError>(&read)) {
        std::vector<std::string> lines;
        for (const std::string& line : console::problem_lines(*error, station->profile->string(),
                                                              console::Language::english)) {
          lines.push_back("profile: " + line);
        }
        return usage(io, lines);
      }
      profile = std::get<console::Profile>(std::move(read));
    }
    return cli::station(options,
                        {link.port, link.pause, simulated,
                         offload_settings(simulated != nullptr ? nullptr : journal.station_trail),
                         *station, keys, std::move(profile), recorders.clock},
                        io);
  }

  const Command& command = *options.command;
  const std::optional<std::string> text = io.charset.to_utf8(options.text);
  if (!text) {
    return usage(
        io, std::string(command.name) + ": the TEXT is not valid " + io.charset.name() + " text");
  }

  // From here to the end kbcctl may hold a password; every copy is wiped when its holder goes,
  // before this does.
  const Undumpable undumpable;
  std::optional<Passwords> passwords;
  const auto ask = [&](std::string_view text, std::string_view caption) {
    if (options.yes) {
      return true;
    }
    return io.terminal != nullptr &&
           io.terminal->confirm(std::string(caption) + ": " + std::string(text));
  };
  const auto dialog_entry = [&](std::string_view title) -> std::optional<console::PasswordEntry> {
    if (passwords->change) {
      return passwords->change;
    }
    auto entry = prompt_change(*io.terminal, io.charset, title);
    if (const auto* problem = std::get_if<PasswordProblem>(&entry)) {
      io.err << io.charset.from_utf8("kbcctl: " + problem->message) << '\n';
      return std::nullopt;
    }
    return std::move(std::get<console::PasswordEntry>(entry));
  };
  TerminalView view(io.out, io.err, io.charset, ask, dialog_entry);
  console::Console console(view, link, recorders.clock, trail);
  std::optional<offload::StoreLedger> ledger;
  if (store) {
    // Under the station's own rule its own store answers, whatever store was named.
    ledger.emplace(evidence::Store(station->erase_store.value_or(store->root())));
    console.set_erase_guard(&*ledger, station->erase, options.without_offload);
  }
  // As the window does when it is shown: the lists and the field limits exist from here on.
  console.on_show();

  if (command.text != TextKind::none) {
    if (const auto refused = place_text(view, console, command, *text)) {
      return usage(io, *refused);
    }
  }

  auto gathered = passwords_for(env, io, options, command.button == idc::change_password);
  if (const auto* problem = std::get_if<PasswordProblem>(&gathered)) {
    return usage(io, problem->message);
  }
  passwords = std::get<Passwords>(std::move(gathered));
  view.set_field_text(idc::password, passwords->current.view());

  // Only now that nothing can stop it as a usage error may the bus be asked.
  if (serial) {
    const std::optional<link::ListedRecorder> found =
        find_by_serial(link, *serial, io.err, io.charset);
    if (!found) {
      if (options.json) {
        io.out << report_json(false, {}) << '\n' << std::flush;
      }
      return kSelection;
    }
    console.choose_recorder(found->device.location(), serial);
  } else {
    console.choose_recorder(options.device);
  }

  const int status = status_of(console, press(command, options.json, view, console, io.out));
  if (status == kSelection) {
    list_unchosen(link, io.err, io.charset);
  }
  return status;
}

}  // namespace

int run(std::span<const std::string> args, const Environment& env, Io& io,
        const Recorders& recorders, const Journal& journal) {
  const int status = run_parsed(parse_arguments(args), env, io, recorders, journal);
  // A report that could not be written is no report: a script must not take it for success.
  io.out.flush();
  if (!io.out) {
    const int error = io.out_error();
    io.err << "kbcctl: cannot write standard output" << (error ? ": " : "")
           << (error ? std::strerror(error) : "") << '\n'
           << std::flush;
    return status == kSucceeded ? kFailed : status;
  }
  return status;
}

}  // namespace kbc::cli
