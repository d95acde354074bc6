// The station file: the store, the erase rule and the [upload] table, each problem named by its
// line in both languages; the system's file under the user's; the S3 credentials, which nobody
// else may read.
#include <gmock/gmock.h>
#include <sys/stat.h>

#include <fstream>

#include "cli/status_command.h"
#include "evidence/bag_info.h"
#include "offload/health.h"
#include "offload/station_file.h"
#include "offload/upload_account.h"
#include "recorder_disk.h"

namespace kbc::offload::testing {
namespace {

using evidence::testing::Scratch;
using upload::UploadSettings;

using ::testing::HasSubstr;

TEST(Station, EachKeyIsTakenOrRefusedWithItsLine) {
  const auto good = parse_station(
      "store = \"/srv/evidence\"\nerase = \"require-upload\"\noffload-window = \"2h\"\n"
      "keep-local = \"30d\"\n"
      "[upload]\nendpoint = \"http://127.0.0.1:17480/\"\nbucket = \"evidence\"\n"
      "prefix = \"station-07\"\nretention-days = 365\nverify = \"read-back\"\n"
      "connections = 8\ncredentials = \"/etc/kbc-q7/s3.toml\"\n",
      "station.toml");
  ASSERT_TRUE(std::holds_alternative<Station>(good));
  const Station& station = std::get<Station>(good);
  EXPECT_EQ(station.store, "/srv/evidence");
  EXPECT_EQ(station.erase.rule, console::EraseRule::require_upload);
  EXPECT_EQ(station.erase.window, std::chrono::hours(2));
  EXPECT_EQ(station.keep_local, std::chrono::days(30));
  ASSERT_TRUE(station.upload);
  EXPECT_EQ(station.upload->endpoint, "http://127.0.0.1:17480");
  EXPECT_EQ(station.upload->region, "us-east-1");
  EXPECT_EQ(station.upload->retention_days, 365);
  EXPECT_EQ(station.upload->verify, UploadSettings::Verify::read_back);
  EXPECT_EQ(station.upload->connections, 8);

  const struct {
    const char* text;
    const char* english;
    const char* chinese;
  } rows[] = {
      {"store = \"relative\"\n", "station.toml:1: store: takes an absolute folder",
       "station.toml 第1行: store: 须为带引号的绝对路径"},
      {"\nerase = \"never\"\n", "station.toml:2: erase: takes \"warn\", \"require-offload\"",
       "station.toml 第2行: erase: 须为"},
      {"offload-window = \"30 min\"\n", "offload-window: takes a span", "须为时长"},
      {"keep-local = 30\n", "keep-local: takes a span", "须为时长"},
      {"colour = 1\n", "'colour' is no key of a station file", "不是站点配置文件的设置项"},
      {"[upload]\nendpoint = \"ftp://x\"\nbucket = \"b\"\ncredentials = \"/c\"\n",
       "station.toml:2: upload.endpoint: takes an http:// or https:// address",
       "upload.endpoint: 须为带引号的 http:// 或 https:// 地址"},
      {"[upload]\nendpoint = \"http://x\"\nretention-days = 0\nbucket = \"b\"\ncredentials = "
       "\"/c\"\n",
       "upload.retention-days: takes a number of days", "1到36500"},
      {"[upload]\nconnections = 0\n", "upload.connections: takes a number of connections from 1",
       "1到16之间的连接数"},
      {"[upload]\nendpoint = \"http://x\"\n", "station.toml: [upload] needs endpoint, bucket",
       "[upload] 须有"},
      {"store = \"/a\nerase = 1\n", "station.toml:1: not TOML", "不是有效的TOML格式"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    const auto read = parse_station(row.text, "station.toml");
    ASSERT_TRUE(std::holds_alternative<std::vector<StationProblem>>(read));
    const auto& problems = std::get<std::vector<StationProblem>>(read);
    EXPECT_THAT(station_problem_lines(problems, false).front(), HasSubstr(row.english));
    EXPECT_THAT(station_problem_lines(problems, true).front(), HasSubstr(row.chinese));
  }
}

// The environment of a user whose own file is `user` (under XDG_CONFIG_HOME) and who may name
// another with $KBC_STATION_FILE.
evidence::Getenv environment(const Scratch& scratch, const char* named) {
  return [&scratch, named](std::string_view name) -> std::optional<std::string> {
    if (name == "KBC_STATION_FILE" && named != nullptr) {
      return (scratch / named).string();
    }
    if (name == "XDG_CONFIG_HOME") {
      return (scratch / "config").string();
    }
    return std::nullopt;
  };
}

TEST(Station, TheUsersFileGoesOverTheSystemsKeyByKey) {
  const Scratch scratch;
  std::filesystem::create_directories(scratch / "config/kbc-q7");
  std::ofstream(scratch / "system.toml")
      << "store = \"/srv/evidence\"\nerase = \"require-offload\"\n";
  std::ofstream(scratch / "config/kbc-q7/station.toml") << "offload-window = \"10min\"\n";
  const auto read = read_station({scratch / "system.toml", environment(scratch, nullptr)});
  ASSERT_TRUE(std::holds_alternative<Station>(read));
  const Station& station = std::get<Station>(read);
  EXPECT_EQ(station.store, "/srv/evidence");
  EXPECT_EQ(station.erase.rule, console::EraseRule::require_offload);
  EXPECT_EQ(station.erase.window, std::chrono::minutes(10));
  EXPECT_EQ(station.files.size(), 2u);
  // Without either file, the defaults: the seed's questions, no store named.
  const auto none = read_station({scratch / "none.toml", environment(scratch, "nor.toml")});
  ASSERT_TRUE(std::holds_alternative<std::vector<StationProblem>>(none));
  EXPECT_THAT(station_problem_lines(std::get<std::vector<StationProblem>>(none), false).front(),
              HasSubstr("No such file"));
  const auto nothing = read_station(
      {scratch / "none.toml", [](std::string_view) { return std::optional<std::string>(); }});
  EXPECT_EQ(std::get<Station>(nothing).erase.rule, console::EraseRule::warn);
  EXPECT_FALSE(std::get<Station>(nothing).store);
}

// The station's own rule, /etc/kbc-q7/station.toml's, holds over whatever else is read: a file
// may make it stricter, never weaker, and one that asks for less is said.
TEST(Station, TheStationsOwnRuleHoldsOverAWeakerOneAndTakesAStricter) {
  const Scratch scratch;
  std::filesystem::create_directories(scratch / "config/kbc-q7");
  std::ofstream(scratch / "system.toml")
      << "store = \"/srv/evidence\"\nerase = \"require-offload\"\noffload-window = \"30min\"\n";
  using console::EraseRule;
  const struct {
    const char* user;   // the user's file
    const char* named;  // $KBC_STATION_FILE's, instead
    EraseRule rule;
    std::chrono::seconds window;
    bool weakened;
  } rows[] = {
      {"erase = \"warn\"\n", nullptr, EraseRule::require_offload, std::chrono::minutes(30), true},
      {"offload-window = \"1d\"\n", nullptr, EraseRule::require_offload, std::chrono::minutes(30),
       true},
      {"offload-window = \"90s\"\n", nullptr, EraseRule::require_offload, std::chrono::seconds(90),
       false},
      {"erase = \"require-upload\"\n", nullptr, EraseRule::require_upload, std::chrono::minutes(30),
       false},
      {"", "erase = \"warn\"\nstore = \"/tmp/mine\"\n", EraseRule::require_offload,
       std::chrono::minutes(30), true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.named != nullptr ? row.named : row.user);
    std::ofstream(scratch / "config/kbc-q7/station.toml") << row.user;
    if (row.named != nullptr) {
      std::ofstream(scratch / "named.toml") << row.named;
    }
    const auto read =
        read_station({scratch / "system.toml",
                      environment(scratch, row.named != nullptr ? "named.toml" : nullptr)});
    ASSERT_TRUE(std::holds_alternative<Station>(read));
    const Station& station = std::get<Station>(read);
    EXPECT_EQ(station.erase.rule, row.rule);
    EXPECT_EQ(station.erase.window, row.window);
    EXPECT_EQ(station.weakened.size(), row.weakened ? 1u : 0u);
    // Under the station's rule the erase asks the station's store, whatever is named.
    EXPECT_EQ(station.erase_store, "/srv/evidence");
  }
}

// What waits for the object store and what it last stored, as status and the metrics say it.
TEST(Health, TheQueueIsToldByItsWaitingAndItsStoredBags) {
  const Scratch scratch;
  const evidence::Store store(scratch / "store");
  const upload::UploadQueue queue(store);
  ASSERT_TRUE(queue.enqueue(store.root() / "1/2/KBC0001_20261208T143005Z"));
  ASSERT_TRUE(queue.enqueue(store.root() / "1/2/KBC0002_20261208T120000Z"));
  ASSERT_EQ(upload::append_state(queue.state_file("KBC0002_20261208T120000Z"),
                                 "stored 2027-06-06T12:00:00Z 2026-12-08T13:00:00Z"),
            0);
  ASSERT_EQ(queue.settle("KBC0002_20261208T120000Z"), 0);
  ASSERT_EQ(
      upload::append_state(queue.state_file("KBC0001_20261208T143005Z"), "error 403 AccessDenied"),
      0);
  Station station;
  station.upload = upload::UploadSettings{};
  const std::chrono::sys_seconds now = *evidence::parse_iso_utc("2026-12-08T16:30:05Z");
  const Health health = station_health(station, store, nullptr, now);
  EXPECT_EQ(health.waiting_bags, 1u);
  EXPECT_EQ(health.oldest_waiting, std::chrono::hours(2));
  EXPECT_EQ(health.last_stored_bag, "KBC0002_20261208T120000Z");
  EXPECT_EQ(health.last_problem, "403 AccessDenied");
  EXPECT_THAT(health.attention(),
              ::testing::ElementsAre("the upload's last problem: 403 AccessDenied"));
  const std::string metrics = health_prometheus(health);
  for (const char* line :
       {"\nkbc_upload_waiting_bags 1\n", "\nkbc_upload_oldest_waiting_seconds 7200\n",
        "\nkbc_upload_last_stored_timestamp_seconds 1796734800\n", "\nkbc_upload_problem 1\n",
        "# TYPE kbc_recorders_overdue gauge\n"}) {
    EXPECT_THAT(metrics, HasSubstr(line));
  }
  EXPECT_THAT(cli::health_json(health), HasSubstr("\"oldest_waiting_seconds\":7200,"));
}

TEST(Station, SpansAndRoomAreReadInTheUnitsGiven) {
  using console::SpanUnit;
  for (const auto& [text, seconds, unit] :
       {std::tuple{"90s", 90, SpanUnit::seconds}, std::tuple{"30min", 1800, SpanUnit::minutes},
        std::tuple{"2h", 7200, SpanUnit::hours}, std::tuple{"30d", 2592000, SpanUnit::days}}) {
    const auto span = parse_span(text);
    ASSERT_TRUE(span) << text;
    EXPECT_EQ(span->length.count(), seconds);
    EXPECT_EQ(span->unit, unit);
  }
  for (const char* refused : {"", "0s", "-5min", "3w", "30 min", "4000d"}) {
    EXPECT_FALSE(parse_span(refused)) << refused;
  }
  EXPECT_DOUBLE_EQ(parse_low_space("15%")->share, 0.15);
  EXPECT_EQ(parse_low_space("200G")->bytes, 200ull << 30);
  EXPECT_EQ(parse_low_space("1.5T")->bytes, 3ull << 39);
  for (const char* refused : {"100%", "0%", "15", "200GB", "G", "-1G"}) {
    EXPECT_FALSE(parse_low_space(refused)) << refused;
  }
}

TEST(Station, CredentialsNobodyElseMayReadOrSystemdsOwn) {
  const Scratch scratch;
  UploadSettings settings;
  settings.endpoint = "http://127.0.0.1:1";
  settings.bucket = "evidence";
  settings.credentials = scratch / "s3.toml";
  std::ofstream(settings.credentials) << "access-key = \"AK\"\nsecret-key = \"SECRET\"\n";
  ::chmod(settings.credentials.c_str(), 0644);
  const auto open = load_account(settings, nullptr);
  ASSERT_TRUE(std::holds_alternative<std::string>(open));
  EXPECT_THAT(std::get<std::string>(open), HasSubstr("may be read by anyone"));
  ::chmod(settings.credentials.c_str(), 0640);
  const auto mine = load_account(settings, nullptr);
  ASSERT_TRUE(std::holds_alternative<upload::S3Account>(mine));
  EXPECT_EQ(std::get<upload::S3Account>(mine).secret_key.view(), "SECRET");

  // systemd's credential "s3" comes first; a file that is no TOML is not quoted back.
  std::filesystem::create_directories(scratch / "credentials");
  std::ofstream(scratch / "credentials" / "s3") << "access-key = \"AK2\"\nsecret-key = \"S2\"\n";
  const std::string directory = (scratch / "credentials").string();
  EXPECT_EQ(
      std::get<upload::S3Account>(load_account(settings, directory.c_str())).access_key.view(),
      "AK2");
  std::ofstream(settings.credentials) << "secret-key = SECRET-IN-CLEAR\n";
  const auto broken = load_account(settings, nullptr);
  EXPECT_THAT(std::get<std::string>(broken), ::testing::Not(HasSubstr("SECRET-IN-CLEAR")));
}

}  // namespace
}  // namespace kbc::offload::testing
