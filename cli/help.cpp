#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/run.h"
#include "console/identity.h"
#include "console/setting_tables.h"
#include "link/gbk.h"

namespace kbc::cli {
namespace {

constexpr std::string_view kHead = R"(Usage: kbcctl [OPTION]... COMMAND [TEXT]
  or:  kbcctl [OPTION]... list [--json]
  or:  kbcctl [OPTION]... [--all] apply PROFILE
  or:  kbcctl [OPTION]... [--all] [--store DIR] offload
  or:  kbcctl [--serial SERIAL] [--store DIR] --from PATH offload
  or:  kbcctl [--json] [--remote] check BAG...
  or:  kbcctl [--json] [--store DIR] upload
  or:  kbcctl [--json] [--store DIR] [--dry-run] prune
  or:  kbcctl [--json | --prometheus] [--store DIR] status
  or:  kbcctl [--simulate[=N]] [--json] [--store DIR] [--once | --status] station
  or:  kbcctl [--serial SERIAL] [--since TIME] audit [--json]
Manage a KBC-Q7 body-worn video recorder over USB. Each COMMAND is one button of the
settings console; what the recorder answers is printed one line per report. list shows
every recorder on the bus: its location, a tab and its serial number ('-' when unknown).
apply sets the clock and a station profile's settings on recorders, at once, with a
receipt for each. offload copies every recording off recorders into the station's
evidence store, verified, as one BagIt bag per recorder; check checks stored bags;
upload sends verified bags on to the agency's S3 object store; prune removes from the
station the bags the object store has held longer than keep-local. station is the
unattended station: every recorder plugged in is verified, set and offloaded by itself.
What kbcctl does to a recorder on the bus is entered in the system journal; audit shows
these entries, of kbcctl and of the window alike.

Options:
      --all                 apply, offload: every recorder on the bus, all at once
      --device LOCATION     the recorder at LOCATION, as list shows it (001/005)
      --serial SERIAL       the recorder whose serial number is SERIAL; the recorders are
                            asked for theirs first; audit: only its entries
      --since TIME          audit: only the entries from TIME on: 2026-12-08,
                            '2026-12-08 14:30', today, yesterday, or -30min, -2h, -7d
      --from PATH           offload: the disk of a recorder switched by other means: a
                            block device, an image file or a mounted folder; no
                            recorder on the bus is asked, --serial names the recorder
      --store DIR           offload, upload, prune, status, station, erase: the store, not the
                            station file's or $XDG_DATA_HOME/kbc-q7/evidence
      --remote              check: the bag's copy at the object store instead
      --dry-run             prune: say which bags would be removed, remove none
      --once                station: the recorders present now, each to its end, then exit
      --status              station: what the running service's drawer shows, by port
      --prometheus          status: as metrics in Prometheus's text exposition format
      --without-offload     erase: in spite of the station's rule erase = "require-
                            offload"; the audit entry says so
      --simulate[=N]        use N built-in simulated recorders (1 without N; serial
                            numbers KBC0001, KBC0002, ...) instead of the USB bus;
                            they start from their defaults on every run
      --password-file FILE  read the password from the first line of FILE ('-' for
                            standard input); passwd reads the old password, the new one
                            and the new one again from lines 2 to 4
  -y, --yes                 answer Yes to both questions of erase
  -v, --verbose             write the link's trace lines to standard error
      --json                print only JSON on standard output, failures included:
                            {"ok":true|false,"lines":[...]} with the report lines;
                            info: the record as one object with the keys serial_number,
                            user_number, user_name, unit_number, unit_name; list: an
                            array of {"location":..., "serial":...}; apply: one object
                            per recorder per line as each finishes; offload: an object
                            per file stored and per recorder done; check, upload,
                            prune: one per bag; audit: one object per entry
  -h, --help                show this help and exit
      --version             show the version and exit

Commands:
  list              every recorder on the bus: its location and serial number
  apply PROFILE     set the clock and the station profile PROFILE (see below)
  offload           every recording off the recorder into the evidence store (below)
  check BAG...      re-hash stored bags against their manifests and the journal
  upload            send the queued bags to the object store, once (below)
  station           verify, set and offload every recorder plugged in, until stopped
  prune             remove bags the object store has held longer than keep-local
  status            the store's room, the upload queue, the rules, overdue recorders
  audit             who did what to which recorder, from the journal
)";

constexpr std::string_view kTail = R"help(
TEXT is a list item exactly as shown above or its ASCII alias in brackets (any case), or
the text for the field. Any other item, a longer text, a character GBK cannot encode or,
for the two numbers, anything but ASCII letters and digits is refused before anything is
sent.

A station PROFILE is a TOML file of the keys video, segment, photo, ir, screen-off,
voice, brightness, motion, unit-number and unit-name, each optional, each with a value
its command takes, in quotes:
  video = "1920X1080(30)"
  segment = "10min"
  unit-name = "深圳市公安局"
Per recorder, apply checks the administrator password once, sets the clock, then the
settings in the settings bar's order and the unit fields in one write; the first failure
ends that recorder's run. A bad line is a usage error and nothing is sent.

offload checks the password as msdc does (either password), reads the identity record,
switches the recorder to USB mass storage and waits up to 30 s for its disk on the same
USB port. The disk is read without mounting it (FAT12/16/32 or exFAT) into the bag
STORE/UNIT/USER/SERIAL_yyyymmddThhmmssZ: each file hashed (SHA-256) as it is read, the
bag written under a ".partial" name, fsynced, read back and hashed again, and renamed
only when all match. An offload cut short is finished by the next one of the recorder,
which reads only the files the bag lacks. On a terminal a progress line per recorder is
drawn on standard error.

The station file /etc/kbc-q7/station.toml, and the user's $XDG_CONFIG_HOME/kbc-q7/
station.toml over it key by key (or only the file $KBC_STATION_FILE names), name the
store and when erase may go ahead:
  store = "/srv/evidence"
  erase = "require-offload"     # or "warn", the default
  offload-window = "30min"
The first erase question states the newest verified offload of the recorder; with
"require-offload" an erase without one in the window is refused, and with
"require-upload" also one the object store has not verified.

An [upload] table sends every verified bag on to an S3 store with Object Lock:
  [upload]
  endpoint = "https://s3.example.org"   # path-style requests
  bucket = "evidence"                   # made with Object Lock when missing
  prefix = "station-07"
  retention-days = 180                  # COMPLIANCE retention from the upload
  verify = "head"                       # or "read-back"
  connections = 4                       # a bag's objects sent at once, 1 to 16
  credentials = "/etc/kbc-q7/s3.toml"   # access-key, secret-key; nobody else may read it
The keys come from systemd's credential "s3" where $CREDENTIALS_DIRECTORY holds one. Each
verified bag is queued in STORE/.uploads; upload sends each file as PREFIX/<bag>/<file>
with its SHA-256, in parts above 64 MiB, checks every object at the store (HEAD, or read
back and hashed) and only then marks the bag stored. Failures of the network or the
store are tried again, after 1, 2, 4 and 8 s, then at the next upload; a refusal stops
that bag. The kbcctl-upload.timer runs it every five minutes as the user kbc-upload.

With keep-local = "30d" in the station file, prune removes from the station every bag the
object store has held (its queue says stored) for longer, once each of its objects was
checked at the store again (size, SHA-256, COMPLIANCE retention still ahead, the version
uploaded); a bag not stored, or whose check fails or cannot be made, stays, with the
reason. The queue's record of a removed bag stays for erase and check --remote. Without
keep-local nothing is removed.

Passwords are never taken from the command line. The password comes from the first line
of --password-file, else from the environment variable KBC_PASSWORD, else from a prompt
without echo on the terminal. passwd asks for its three passwords the same way: lines 2
to 4 of the file, or three prompts.

erase asks its two questions on the terminal; --yes answers both Yes. Without a terminal
and without --yes both are answered No.

With one recorder on the bus a command talks to it. With several, choose one with
--device or --serial; without a choice no command is sent to any of them.

Reports go to standard output; usage errors, the choice of a recorder and the trace to
standard error.

Exit status:
  0  the command's success report was produced; list always; apply: every recorder
     took every step; offload: every recorder's bag was verified; check: every bag is
     intact and matches the journal's entry (--remote: is whole at the object store);
     upload: every queued bag is stored, or another upload is draining the queue;
     audit: the journal was read
  1  the recorder reported a failure or a refusal (a wrong password included), an
     offload or upload failed or a bag is not intact, or standard output could not be
     written, or audit could not read the journal
  2  usage error: bad arguments, profile, password file or password length, or no
     terminal; nothing was sent
  3  several recorders and none chosen, or --serial matched none or several; the
     recorders are listed on standard error and nothing but their serial numbers was asked
  4  no recorder was reached: none found, access denied, or the chosen one is gone
  1  also status: something needs attention (each is named)
  5  check: every bag's manifests match, but the journal cannot confirm one (it cannot
     be read here, or holds no entry of the bag's verification)
)help";

std::string padded(std::string text, std::size_t width) {
  text.resize(std::max(text.size(), width), ' ');
  return text;
}

// The accepted texts under the command, wrapped before the 80th column.
std::string accepted_texts(const Command& command) {
  constexpr std::size_t kIndent = 20, kWidth = 80;
  std::vector<std::string> items;
  if (command.text == TextKind::item) {
    for (const console::Setting& row : console::setting_button(command.button)->rows) {
      items.emplace_back(row.alias.empty()
                             ? std::string(row.text)
                             : std::string(row.text) + " (" + std::string(row.alias) + ")");
    }
  } else {
    items.push_back("up to " + std::to_string(console::identity_button(command.button)->max_bytes) +
                    " GBK bytes");
  }
  std::string text, line;
  for (const std::string& item : items) {
    const std::string next = line.empty() ? item : line + " | " + item;
    if (!line.empty() && kIndent + link::gbk_size(next).value_or(next.size()) >= kWidth) {
      text += std::string(kIndent, ' ') + line + " |\n";
      line = item;
    } else {
      line = next;
    }
  }
  return text + std::string(kIndent, ' ') + line + '\n';
}

}  // namespace

std::string help_text() {
  std::string text(kHead);
  for (const Command& command : commands()) {
    const bool takes_text = command.text != TextKind::none;
    text += "  " + padded(std::string(command.name) + (takes_text ? " TEXT" : ""), 18);
    text += command.summary;
    text += '\n';
    if (takes_text) {
      text += accepted_texts(command);
    }
  }
  text += kTail;
  return text;
}

}  // namespace kbc::cli
