#include "station/slot_state.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>

#include "console/offload_messages.h"
#include "console/printable.h"
#include "console/station_messages.h"

namespace kbc::station {
namespace {

namespace fs = std::filesystem;

struct StageWords {
  std::string_view name;
  std::string_view text;
};

// In the order of SlotStage.
constexpr std::array<StageWords, 12> kStages{{
    {"queued", console::msg::slot_queued},
    {"identifying", console::msg::slot_identifying},
    {"verifying", console::msg::slot_verifying},
    {"applying", console::msg::slot_applying},
    {"switching", console::msg::stage_switching},
    {"waiting-for-disk", console::msg::stage_waiting_for_disk},
    {"copying", console::msg::stage_copying},
    {"checking", console::msg::stage_verifying},
    {"verified", console::msg::stage_verified},
    {"recent", console::msg::slot_recent},
    {"failed", console::msg::stage_failed},
    {"unplugged", console::msg::slot_unplugged},
}};
static_assert(kStages.size() == static_cast<std::size_t>(SlotStage::unplugged) + 1);

// One line's value: printable, so that no text of a recorder adds a line.
std::string line(std::string_view key, std::string_view value) {
  return std::string(key) + "=" + console::printable(value) + "\n";
}

std::map<std::string, std::string, std::less<>> fields(std::string_view text) {
  std::map<std::string, std::string, std::less<>> values;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view one = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (const std::size_t equals = one.find('='); equals != std::string_view::npos) {
      values.emplace(std::string(one.substr(0, equals)), std::string(one.substr(equals + 1)));
    }
  }
  return values;
}

template <typename Number>
Number number(const std::map<std::string, std::string, std::less<>>& values, std::string_view key) {
  Number value{};
  if (const auto found = values.find(key); found != values.end()) {
    std::from_chars(found->second.data(), found->second.data() + found->second.size(), value);
  }
  return value;
}

std::string text_of(const std::map<std::string, std::string, std::less<>>& values,
                    std::string_view key) {
  const auto found = values.find(key);
  return found == values.end() ? std::string() : found->second;
}

std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text;
  // A slot's file is small; anything larger is nobody's.
  text.resize(16 * 1024);
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  return text;
}

}  // namespace

std::string_view slot_stage_name(SlotStage stage) {
  return kStages[static_cast<std::size_t>(stage)].name;
}

std::string_view slot_stage_text(SlotStage stage) {
  return kStages[static_cast<std::size_t>(stage)].text;
}

std::optional<SlotStage> slot_stage_named(std::string_view name) {
  for (std::size_t i = 0; i < kStages.size(); ++i) {
    if (kStages[i].name == name) {
      return static_cast<SlotStage>(i);
    }
  }
  return std::nullopt;
}

bool finished(SlotStage stage) {
  return stage == SlotStage::verified || stage == SlotStage::recent || stage == SlotStage::failed ||
         stage == SlotStage::unplugged;
}

fs::path state_folder(bool simulated) {
  const auto env = [](const char* name) -> std::optional<std::string> {
    const char* value = std::getenv(name);
    return value != nullptr && *value == '/' ? std::optional<std::string>(value) : std::nullopt;
  };
  if (const auto named = env("KBC_STATION_STATE")) {
    return *named;
  }
  if (simulated) {
    const auto runtime = env("XDG_RUNTIME_DIR");
    return runtime ? fs::path(*runtime) / "kbc-q7-simulated"
                   : fs::temp_directory_path() / ("kbc-q7-simulated-" + std::to_string(::getuid()));
  }
  // systemd's RuntimeDirectory= may name several folders, separated by ':'.
  if (const auto runtime = env("RUNTIME_DIRECTORY")) {
    return fs::path(runtime->substr(0, runtime->find(':'))) / "station";
  }
  return "/run/kbc-q7/station";
}

std::string slot_text(const SlotState& slot) {
  std::string text =
      line("PORT", slot.port) + line("LOCATION", slot.location) + line("SERIAL", slot.serial) +
      line("OFFICER", slot.officer) + line("UNIT", slot.unit) +
      line("STAGE", slot_stage_name(slot.stage)) + line("FILES", std::to_string(slot.files_done)) +
      line("FILES_TOTAL", std::to_string(slot.files_total)) +
      line("BYTES", std::to_string(slot.bytes_done)) +
      line("BYTES_TOTAL", std::to_string(slot.bytes_total)) +
      line("RATE", std::to_string(static_cast<long long>(slot.rate))) +
      line("RESULT", slot.result) + line("DOCKED", std::to_string(slot.docked_since)) +
      line("ENDED", std::to_string(slot.ended)) + line("OVERDUE", slot.overdue ? "1" : "0");
  if (slot.seconds_left) {
    text += line("SECONDS_LEFT", std::to_string(*slot.seconds_left));
  }
  return text;
}

std::optional<SlotState> parse_slot(std::string_view text) {
  const auto values = fields(text);
  const std::optional<SlotStage> stage = slot_stage_named(text_of(values, "STAGE"));
  if (!stage || text_of(values, "PORT").empty()) {
    return std::nullopt;
  }
  SlotState slot;
  slot.port = text_of(values, "PORT");
  slot.location = text_of(values, "LOCATION");
  slot.serial = text_of(values, "SERIAL");
  slot.officer = text_of(values, "OFFICER");
  slot.unit = text_of(values, "UNIT");
  slot.stage = *stage;
  slot.files_done = number<std::uint64_t>(values, "FILES");
  slot.files_total = number<std::uint64_t>(values, "FILES_TOTAL");
  slot.bytes_done = number<std::uint64_t>(values, "BYTES");
  slot.bytes_total = number<std::uint64_t>(values, "BYTES_TOTAL");
  slot.rate = static_cast<double>(number<long long>(values, "RATE"));
  if (values.contains("SECONDS_LEFT")) {
    slot.seconds_left = number<long long>(values, "SECONDS_LEFT");
  }
  slot.result = text_of(values, "RESULT");
  slot.docked_since = number<std::int64_t>(values, "DOCKED");
  slot.ended = number<std::int64_t>(values, "ENDED");
  slot.overdue = text_of(values, "OVERDUE") == "1";
  return slot;
}

std::string station_text(const StationState& station) {
  return line("PID", std::to_string(station.pid)) +
         line("STARTED", std::to_string(station.started)) +
         line("SLOTS", std::to_string(station.slot_count)) + line("STORE", station.store) +
         line("LOW_SPACE", station.low_space);
}

std::optional<StationState> parse_station_state(std::string_view text) {
  const auto values = fields(text);
  if (!values.contains("PID")) {
    return std::nullopt;
  }
  return StationState{number<long>(values, "PID"), number<std::int64_t>(values, "STARTED"),
                      number<int>(values, "SLOTS"), text_of(values, "STORE"),
                      text_of(values, "LOW_SPACE")};
}

std::string slot_file_name(std::string_view port) {
  std::string name(port);
  for (char& c : name) {
    const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '.' || c == '-';
    c = kept ? c : '_';
  }
  return name.empty() || name.front() == '.' ? "_" + name : name;
}

std::variant<Board, std::string> Board::open(const fs::path& folder) {
  std::error_code error;
  fs::create_directories(folder / "slots", error);
  if (error) {
    return folder.string() + ": " + error.message();
  }
  link::Descriptor lock(
      ::open((folder / "running").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644));
  if (lock.get() < 0) {
    return (folder / "running").string() + ": " + std::strerror(errno);
  }
  if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
    return errno == EWOULDBLOCK ? folder.string() + ": another station service runs on it"
                                : folder.string() + ": " + std::strerror(errno);
  }
  // What an earlier run left: its recorders are taken again as this run finds them.
  for (const auto& entry : fs::directory_iterator(folder / "slots", error)) {
    fs::remove(entry.path(), error);
  }
  return Board(folder, std::move(lock));
}

Board::~Board() {
  if (lock_.get() < 0) {
    return;  // moved from
  }
  lock_ = link::Descriptor(-1);
  std::error_code error;
  fs::remove(folder_ / "station", error);
}

void Board::replace(const fs::path& path, const std::string& text) {
  const fs::path temporary = path.parent_path() / ("." + path.filename().string() + ".new");
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) {
      return;
    }
  }
  ::chmod(temporary.c_str(), 0644);
  std::error_code error;
  fs::rename(temporary, path, error);
}

void Board::publish(const StationState& station) {
  replace(folder_ / "station", station_text(station));
}

void Board::publish(const SlotState& slot) {
  replace(folder_ / "slots" / slot_file_name(slot.port), slot_text(slot));
}

void Board::remove(const std::string& port) {
  std::error_code error;
  fs::remove(folder_ / "slots" / slot_file_name(port), error);
}

std::int64_t epoch_seconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

bool service_running(const fs::path& folder) {
  const link::Descriptor lock(::open((folder / "running").c_str(), O_RDONLY | O_CLOEXEC));
  return lock.get() >= 0 && ::flock(lock.get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

Drawer read_drawer(const fs::path& folder) {
  Drawer drawer;
  drawer.running = service_running(folder);
  drawer.station = parse_station_state(read_text(folder / "station"));
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder / "slots", error)) {
    if (entry.path().filename().string().starts_with('.')) {
      continue;
    }
    if (auto slot = parse_slot(read_text(entry.path()))) {
      drawer.docked.push_back(std::move(*slot));
    }
  }
  std::ranges::sort(drawer.docked, {}, &SlotState::port);
  return drawer;
}

}  // namespace kbc::station
