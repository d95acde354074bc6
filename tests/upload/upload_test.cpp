// Bags going on to a real S3 store: a one-node Ceph cluster with its RADOS Gateway, started by the
// test in a folder of its own and stopped on every path (rgw.sh). Both ways of verifying, Object
// Lock's retention and a deletion it refuses, a wrong secret, a gateway killed in the middle of a
// multipart upload, and a payload damaged on its way.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "console/audit.h"
#include "evidence/bag.h"
#include "evidence/manifest.h"
#include "evidence/recorder_files.h"
#include "evidence/recorder_lock.h"
#include "evidence/sha256.h"
#include "evidence/store.h"
#include "link/descriptor.h"
#include "offload/ledger.h"
#include "offload/upload_entry.h"
#include "recorder_disk.h"
#include "upload/drain.h"
#include "upload/objects.h"
#include "upload/prune.h"

namespace kbc::upload::testing {
namespace {

using evidence::sha256_hex;
using evidence::Store;
using evidence::testing::DiskFile;
using evidence::testing::make_fat32;
using evidence::testing::pattern;
using evidence::testing::Scratch;

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

const std::string kScript = KBC_RGW_SCRIPT;
const std::chrono::sys_seconds kNow{std::chrono::seconds(1796740205)};  // 2026-12-08T14:30:05Z

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class RecordedPause final : public link::Pause {
 public:
  void pause(std::chrono::milliseconds ms) override { pauses.push_back(ms.count()); }
  std::vector<long long> pauses;
};

class KeptTrail final : public console::AuditTrail {
 public:
  bool writable() override { return true; }
  void write(const console::AuditEntry& entry) override { entries.push_back(entry); }
  std::vector<console::AuditEntry> entries;
};

std::string field(const console::AuditEntry& entry, const std::string& name) {
  for (const auto& [key, value] : entry.fields) {
    if (key == name) {
      return value;
    }
  }
  return "(none)";
}

class UploadToRgw : public ::testing::Test {
 protected:
  void SetUp() override {
    // A port range of its own per process, for tests run side by side.
    port_ = 17600 + static_cast<int>(::getpid() % 100) * 50;
    const std::string command =
        kScript + " start " + cluster_.string() + " " + std::to_string(port_) + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0)
        << "the Ceph cluster did not start: see " << (cluster_ / "log").string();
    settings_.endpoint = "http://127.0.0.1:" + std::to_string(port_);
    settings_.bucket = "evidence";
    settings_.prefix = "station-07";
    settings_.retention_days = 180;
  }
  void TearDown() override { std::system((kScript + " stop " + cluster_.string()).c_str()); }

  S3Account account(const std::string& secret = "kbc-test-secret-0123456789") const {
    return {settings_.endpoint, settings_.region, settings_.bucket,
            link::Secret(std::string("kbc-test-access")), link::Secret(std::string(secret))};
  }

  // A verified bag of the recorder's files, queued.
  fs::path queued_bag(const std::string& serial, const std::vector<DiskFile>& files) {
    const fs::path image = scratch_ / (serial + ".img");
    make_fat32(image, files, 160);
    auto opened = evidence::open_recorder_files(image.string());
    auto& volume = *std::get<std::unique_ptr<evidence::RecorderFiles>>(opened);
    evidence::StoreIo plain;
    auto lock = evidence::lock_recorder(store_, serial, "the test");
    const evidence::BagOutcome bag =
        evidence::write_bag(volume, store_, std::get<evidence::RecorderLock>(lock),
                            {serial, {}, "station-7", "alice", "test"}, kNow, {}, {}, plain);
    EXPECT_TRUE(bag.verified);
    EXPECT_TRUE(queue_.enqueue(bag.path));
    return bag.path;
  }

  // The bags the drain took up; each one's entry goes to the trail as the station's does.
  std::vector<Uploaded> drain_with(S3Client& client, UploadIo& io, UploadEvents events = {}) {
    return drained_with(client, io, std::move(events)).bags;
  }
  Drained drained_with(S3Client& client, UploadIo& io, UploadEvents events = {},
                       std::chrono::sys_seconds now = kNow) {
    events.finished = [&](const Uploaded& bag) {
      trail_.write(offload::upload_entry(bag, settings_));
    };
    return drain(queue_, {client, settings_, pause_, io, std::move(events), now});
  }

  // The objects' versions and the multipart uploads open in the bucket.
  std::string listing(S3Client& client, const std::string& query) {
    return client.request("GET", "", query, {}).body;
  }

  Scratch scratch_;
  fs::path cluster_ = scratch_ / "ceph";
  int port_ = 0;
  Store store_{scratch_ / "store"};
  UploadQueue queue_{store_};
  UploadSettings settings_;
  RecordedPause pause_;
  KeptTrail trail_;
  UploadIo plain_io_;
};

TEST_F(UploadToRgw, EitherVerificationStoresTheBagUnderRetentionWhichRefusesADeletion) {
  S3Client client(account());
  const std::vector<DiskFile> files{{"DCIM/0001.MP4", pattern(70 << 20, 1)},
                                    {"DCIM/执法 记录.MP4", pattern(300000, 2)}};
  const fs::path first = queued_bag("KBC0001", files);
  offload::StoreLedger ledger(store_);
  EXPECT_FALSE(ledger.newest_verified("KBC0001")->uploaded);

  std::vector<std::string> sent;
  const auto uploaded =
      drain_with(client, plain_io_, {[&](const std::string& key, int part) {
                   sent.push_back(key.substr(key.rfind('/') + 1) + ":" + std::to_string(part));
                 }});
  ASSERT_EQ(uploaded.size(), 1u);
  EXPECT_TRUE(uploaded[0].stored) << uploaded[0].problem.value_or("");
  EXPECT_EQ(uploaded[0].objects, 7u);  // two files, five tag files
  // The large file in five parts of 16 MiB, the rest whole.
  EXPECT_THAT(sent, Contains("0001.MP4:5"));
  EXPECT_THAT(sent, Contains("执法 记录.MP4:0"));
  EXPECT_TRUE(ledger.newest_verified("KBC0001")->uploaded);

  // Each object under COMPLIANCE retention until 180 days after the upload, its SHA-256 kept.
  const std::string key = object_key(settings_, store_, first, "data/DCIM/0001.MP4");
  S3Response head = client.request("HEAD", key, "", {});
  EXPECT_EQ(head.header("x-amz-object-lock-mode"), "COMPLIANCE");
  EXPECT_THAT(head.header("x-amz-object-lock-retain-until-date"), HasSubstr("2027-06-06T14:30:05"));
  EXPECT_EQ(head.header("x-amz-meta-sha256"), sha256_hex(files[0].bytes));
  const S3Response deleted =
      client.request("DELETE", key, "versionId=" + head.header("x-amz-version-id"), {});
  EXPECT_EQ(deleted.status, 403) << deleted.body;

  ASSERT_EQ(trail_.entries.size(), 1u);
  const console::AuditEntry& entry = trail_.entries[0];
  EXPECT_EQ(entry.action, "upload");
  EXPECT_EQ(entry.outcome, console::AuditOutcome::ok);
  EXPECT_EQ(field(entry, "KBC_RETAIN_UNTIL"), "2027-06-06T14:30:05Z");
  EXPECT_THAT(field(entry, "KBC_OBJECTS"), HasSubstr(key + " " + head.header("x-amz-version-id") +
                                                     " " + sha256_hex(files[0].bytes)));

  // The second bag read back whole; a drain with nothing new sends nothing.
  settings_.verify = UploadSettings::Verify::read_back;
  const fs::path second = queued_bag("KBC0002", {{"DCIM/0002.MP4", pattern(100000, 3)}});
  sent.clear();
  EXPECT_TRUE(drain_with(client, plain_io_, {[&](const std::string& k, int) { sent.push_back(k); }})
                  .at(0)
                  .stored);
  EXPECT_EQ(sent.size(), 6u);
  sent.clear();
  EXPECT_TRUE(drain_with(client, plain_io_).empty());
  const UploadRun run{client, settings_, pause_, plain_io_, {}, kNow};
  EXPECT_TRUE(check_remote(first, queue_, run).empty());
  EXPECT_TRUE(check_remote(second, queue_, run).empty());
  EXPECT_TRUE(pause_.pauses.empty());

  // The store's copy is held against what the queue noted at the upload: the very version, and
  // a retention no shorter than was asked, in either way of verifying.
  const std::string version = head.header("x-amz-version-id");
  const struct {
    const char* noted;
    const char* problem;
  } rows[] = {
      {"2027-06-06T14:30:05Z", nullptr},
      {"2099-01-01T00:00:00Z", "retains it until 2027-06-06T14:30:05"},
  };
  const fs::path state = queue_.state_file(first.filename().string());
  const std::string kept = slurp(state);
  for (const auto verify : {UploadSettings::Verify::head, UploadSettings::Verify::read_back}) {
    settings_.verify = verify;
    for (const auto& row : rows) {
      SCOPED_TRACE(row.noted);
      std::ofstream(state, std::ios::app)
          << "object " << sha256_hex(files[0].bytes) << " " << files[0].bytes.size() << " "
          << version << " " << row.noted << " " << evidence::manifest_path(key) << "\n";
      const auto problems = check_remote(first, queue_, run);
      if (row.problem == nullptr) {
        EXPECT_THAT(problems, ::testing::IsEmpty());
      } else {
        EXPECT_THAT(problems, ElementsAre(HasSubstr(row.problem)));
      }
    }
    std::ofstream(state, std::ios::app)
        << "object " << sha256_hex(files[0].bytes) << " " << files[0].bytes.size()
        << " 0123456789abcdef "
        << "2027-06-06T14:30:05Z " << evidence::manifest_path(key) << "\n";
    EXPECT_THAT(
        check_remote(first, queue_, run),
        ElementsAre(HasSubstr("the version uploaded, 0123456789abcdef, is not at the store")));
    std::ofstream(state, std::ios::trunc) << kept;
  }
}

TEST_F(UploadToRgw, AWrongSecretIsRefusedOnceAndNothingIsMarkedStored) {
  queued_bag("KBC0001", {{"DCIM/0001.MP4", pattern(1000, 1)}});
  S3Client wrong(account("not-the-secret"));
  const Drained drained = drained_with(wrong, plain_io_);
  ASSERT_TRUE(drained.bucket);
  EXPECT_TRUE(drained.bags.empty());
  EXPECT_FALSE(drained.bucket->stored);
  EXPECT_TRUE(drained.bucket->permanent);
  EXPECT_THAT(drained.bucket->problem.value_or(""), HasSubstr("403"));
  EXPECT_TRUE(pause_.pauses.empty());  // a refusal is not tried again
  EXPECT_FALSE(queue_.bags().at(0).stored);

  S3Client right(account());
  EXPECT_TRUE(drain_with(right, plain_io_).at(0).stored);
}

TEST_F(UploadToRgw, AGatewayKilledMidUploadLeavesNeitherADuplicateNorAnOrphanedMultipart) {
  const fs::path bag = queued_bag(
      "KBC0001", {{"DCIM/0001.MP4", pattern(70 << 20, 1)}, {"DCIM/0002.MP4", pattern(5000, 2)}});
  S3Client client(account());
  const auto cut =
      drain_with(client, plain_io_, {[&](const std::string&, int part) {
                   if (part == 2) {
                     std::system((kScript + " kill-gateway " + cluster_.string()).c_str());
                   }
                 }});
  ASSERT_EQ(cut.size(), 1u);
  EXPECT_FALSE(cut[0].stored);
  EXPECT_FALSE(cut[0].permanent);
  // Each failing request, on each connection, tried five times, pausing as told between tries;
  // never slept here.
  ASSERT_FALSE(pause_.pauses.empty());
  for (const long long ms : {1000, 2000, 4000, 8000}) {
    EXPECT_EQ(std::ranges::count(pause_.pauses, ms), std::ranges::count(pause_.pauses, 1000)) << ms;
  }
  EXPECT_EQ(std::ranges::count(pause_.pauses, 1000) * 4, std::ssize(pause_.pauses));

  ASSERT_EQ(
      std::system((kScript + " start-gateway " + cluster_.string() + " >/dev/null 2>&1").c_str()),
      0);
  {
    // While another drain holds the queue this one leaves it alone.
    const link::Descriptor other(::open(queue_.folder().c_str(), O_RDONLY | O_DIRECTORY));
    ASSERT_EQ(::flock(other.get(), LOCK_EX), 0);
    const Drained busy = drained_with(client, plain_io_);
    EXPECT_TRUE(busy.busy);
    EXPECT_TRUE(busy.bags.empty());
  }
  const auto resumed = drain_with(client, plain_io_);
  ASSERT_EQ(resumed.size(), 1u);
  EXPECT_TRUE(resumed[0].stored) << resumed[0].problem.value_or("");
  EXPECT_THAT(listing(client, "uploads="), ::testing::Not(HasSubstr("<Upload>")));
  // One version of every object: nothing went up twice.
  const std::string versions = listing(client, "versions=");
  for (const char* file : {"data/DCIM/0001.MP4", "data/DCIM/0002.MP4", "bag-info.txt"}) {
    const std::string key = "<Key>" + object_key(settings_, store_, bag, file) + "</Key>";
    std::size_t count = 0;
    for (std::size_t at = versions.find(key); at != std::string::npos;
         at = versions.find(key, at + 1)) {
      ++count;
    }
    EXPECT_EQ(count, 1u) << file;
  }
}

// Damages one byte of a file's first trip to the store.
class DamagingIo final : public UploadIo {
 public:
  long read(int fd, std::uint64_t offset, std::span<std::byte> into) override {
    const long n = UploadIo::read(fd, offset, into);
    if (n > 0 && !damaged_.exchange(true)) {
      into[0] ^= std::byte{1};
    }
    return n;
  }

 private:
  std::atomic<bool> damaged_ = false;  // the objects go over several connections
};

TEST_F(UploadToRgw, APayloadChangedOnItsWayIsRefusedByTheStoreAndSentAgain) {
  const fs::path bag = queued_bag("KBC0001", {{"DCIM/0001.MP4", pattern(200000, 7)}});
  S3Client client(account());
  DamagingIo damaging;
  const auto uploaded = drain_with(client, damaging);
  ASSERT_EQ(uploaded.size(), 1u);
  EXPECT_TRUE(uploaded[0].stored) << uploaded[0].problem.value_or("");
  EXPECT_THAT(pause_.pauses, ElementsAre(1000));
  const UploadRun run{client, settings_, pause_, plain_io_, {}, kNow};
  settings_.verify = UploadSettings::Verify::read_back;
  EXPECT_TRUE(check_remote(bag, queue_, run).empty());
}

// keep-local: the station lets go only of what the object store has held long enough, checked
// there again; nothing it cannot check, nothing with a dry run.
TEST_F(UploadToRgw, PruneRemovesOnlyStoredRecheckedOldEnoughBags) {
  using std::chrono::days;
  const fs::path old_bag = queued_bag("KBC0001", {{"DCIM/0001.MP4", pattern(3000, 1)}});
  S3Client client(account());
  ASSERT_TRUE(drain_with(client, plain_io_).at(0).stored);
  const fs::path recent = queued_bag("KBC0002", {{"DCIM/0002.MP4", pattern(3000, 2)}});
  ASSERT_TRUE(drained_with(client, plain_io_, {}, kNow + days(20)).bags.at(0).stored);
  const fs::path waiting = queued_bag("KBC0003", {{"DCIM/0003.MP4", pattern(3000, 3)}});
  S3Client wrong(account("not-the-secret"));
  const struct {
    const char* what;
    S3Client& client;
    std::chrono::sys_seconds now;
    bool dry_run;
    bool gateway_stopped;
    const char* kept;  // why the old bag stays; nullptr: removed
  } rows[] = {
      {"a dry run", client, kNow + days(31), true, false, nullptr},
      {"refused keys", wrong, kNow + days(31), false, false, "403"},
      {"a stopped gateway", client, kNow + days(31), false, true, "onnect"},
      {"its retention over", client, kNow + days(200), false, false,
       "its retention at the store ended"},
      {"removed", client, kNow + days(31), false, false, nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    if (row.gateway_stopped) {
      std::system((kScript + " kill-gateway " + cluster_.string()).c_str());
    }
    const UploadRun run{row.client, settings_, pause_, plain_io_, {}, row.now};
    std::vector<Pruned> told;
    const std::vector<Pruned> pruned = prune(
        queue_, {run, days(30), row.dry_run, [&](const Pruned& bag) { told.push_back(bag); }});
    std::map<std::string, const Pruned*> by_name;
    for (const Pruned& bag : pruned) {
      by_name[bag.bag] = &bag;
    }
    ASSERT_TRUE(by_name.count(old_bag.filename().string()));
    const Pruned& old = *by_name[old_bag.filename().string()];
    EXPECT_EQ(by_name[waiting.filename().string()]->kept, "not stored at the object store yet");
    // Stored at the object store 11 days ago: not a candidate yet, said nothing of.
    EXPECT_EQ(by_name.count(recent.filename().string()), row.now == kNow + days(31) ? 0u : 1u);
    if (row.kept != nullptr) {
      EXPECT_FALSE(old.removed);
      EXPECT_THAT(old.kept.value_or(""), HasSubstr(row.kept));
    } else {
      EXPECT_TRUE(old.removed) << old.kept.value_or("");
      EXPECT_EQ(old.listed.size(), 6u);
    }
    EXPECT_EQ(fs::exists(old_bag), row.dry_run || row.kept != nullptr);
    EXPECT_EQ(told.size(), fs::exists(old_bag) ? 0u : 1u);
    if (row.gateway_stopped) {
      ASSERT_EQ(std::system(
                    (kScript + " start-gateway " + cluster_.string() + " >/dev/null 2>&1").c_str()),
                0);
    }
  }
  // Gone from the station, the bag still counts for the erase rule and is checked at the store
  // from what the queue noted.
  EXPECT_TRUE(fs::exists(recent));
  const auto fact = offload::StoreLedger(store_).newest_verified("KBC0001");
  ASSERT_TRUE(fact);
  EXPECT_TRUE(fact->uploaded);
  EXPECT_EQ(fact->files, 1u);
  EXPECT_EQ(fact->tagmanifest_sha256.size(), 64u);
  const UploadRun run{client, settings_, pause_, plain_io_, {}, kNow + days(31)};
  EXPECT_THAT(check_remote(old_bag, queue_, run), ::testing::IsEmpty());
  EXPECT_THAT(drain_with(client, plain_io_), ::testing::SizeIs(1));  // only the waiting bag
}

// Damages every read of one recorder's files: a bag the store refuses each time it is sent.
class AlwaysDamagingIo final : public UploadIo {
 public:
  long read(int fd, std::uint64_t offset, std::span<std::byte> into) override {
    const long n = UploadIo::read(fd, offset, into);
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    if (n > 0 && fs::read_symlink(link).string().find("KBC0001_") != std::string::npos) {
      into[0] ^= std::byte{1};
    }
    return n;
  }
};

// Over months: the queue goes oldest first, a bag the store refuses every time waits after a few
// tries and holds no other back, and a stored bag's state leaves the waiting ones.
TEST_F(UploadToRgw, ABagThatAlwaysFailsWaitsAndHoldsNoOtherBack) {
  queued_bag("KBC0001", {{"DCIM/0001.MP4", pattern(3000, 1)}});
  queued_bag("KBC0002", {{"DCIM/0002.MP4", pattern(3000, 2)}});
  S3Client client(account());
  AlwaysDamagingIo damaging;
  for (int drain = 1; drain <= 4; ++drain) {
    SCOPED_TRACE(drain);
    pause_.pauses.clear();
    const std::vector<Uploaded> bags = drain_with(client, damaging);
    ASSERT_FALSE(bags.empty());
    EXPECT_THAT(bags[0].bag, HasSubstr("KBC0001_"));
    EXPECT_FALSE(bags[0].stored);
    EXPECT_FALSE(bags[0].unreachable);
    if (drain <= 3) {
      // Tried, and tried again within the drain, then the next bag's turn.
      EXPECT_FALSE(bags[0].deferred_until);
      EXPECT_FALSE(pause_.pauses.empty());
    } else {
      EXPECT_EQ(bags[0].deferred_until, kNow + std::chrono::hours(1));
      EXPECT_TRUE(pause_.pauses.empty());
    }
    if (drain == 1) {
      ASSERT_EQ(bags.size(), 2u);
      EXPECT_TRUE(bags[1].stored) << bags[1].problem.value_or("");
    }
  }
  ASSERT_EQ(queue_.bags().size(), 1u);
  EXPECT_THAT(queue_.bags()[0].name, HasSubstr("KBC0001_"));
  ASSERT_EQ(queue_.stored_bags().size(), 1u);
  EXPECT_TRUE(queue_.find(queue_.stored_bags()[0].name)->stored);
}

}  // namespace
}  // namespace kbc::upload::testing
