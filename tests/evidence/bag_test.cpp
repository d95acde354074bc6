// The offload's own pieces on real images: the volume reader on FAT32 (whole and partitioned) and
// exFAT, a bag written, read back and checked, the faults that must leave it ".partial", and a
// bag cut short that the next offload finishes, reading only what it lacks.
#include <gmock/gmock.h>
#include <sys/stat.h>
#include <tsk/libtsk.h>

#include <fstream>
#include <iterator>
#include <map>

#include "evidence/bag.h"
#include "evidence/bag_check.h"
#include "evidence/manifest.h"
#include "evidence/progress.h"
#include "evidence/recorder_files.h"
#include "evidence/recorder_lock.h"
#include "evidence/sha256.h"
#include "recorder_disk.h"
#include "upload/queue.h"

namespace kbc::evidence::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

const std::chrono::sys_seconds kStarted{std::chrono::seconds(1796740205)};  // 2026-12-08T14:30:05Z

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What a recorder holds: nested folders, long Chinese names, a large file and an empty one.
std::vector<DiskFile> recordings() {
  return {
      {"DCIM/100MEDIA/20261208_143005_0001.MP4", pattern(3 << 20, 1)},
      {"DCIM/100MEDIA/执法记录仪 2026年12月8日 长名字录像.MP4", pattern(700 * 1024, 2)},
      {"DCIM/PHOTO/IMG0001.JPG", pattern(100 * 1024, 3)},
      {"RECORD/empty.wav", ""},
      {"readme.txt", "KBC-Q7\n"},
  };
}

std::map<std::string, std::string> read_all(RecorderFiles& files) {
  std::map<std::string, std::string> read;
  for (std::size_t i = 0; i < files.files().size(); ++i) {
    std::string bytes;
    const auto failure = files.read(i, [&](std::span<const std::byte> chunk) {
      bytes.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
      return true;
    });
    EXPECT_FALSE(failure) << files.files()[i].path << ": " << failure->what;
    read[files.files()[i].path] = bytes;
  }
  return read;
}

std::unique_ptr<RecorderFiles> opened(Opened opened) {
  if (auto* problem = std::get_if<std::string>(&opened)) {
    ADD_FAILURE() << *problem;
    return nullptr;
  }
  return std::move(std::get<0>(opened));
}

TEST(Volume, ReadsEveryFileOfAFat32DiskWholeOrPartitionedAsMtoolsWroteIt) {
  const Scratch scratch;
  const std::vector<DiskFile> files = recordings();
  for (const bool partitioned : {false, true}) {
    SCOPED_TRACE(partitioned ? "partitioned" : "whole");
    const fs::path image = scratch / "disk.img";
    make_fat32(image, files, 40, partitioned);
    const auto volume = opened(open_recorder_files(image.string()));
    ASSERT_TRUE(volume);
    EXPECT_EQ(volume->description(), partitioned ? "FAT32 in partition 1" : "FAT32");
    std::map<std::string, std::string> want;
    for (const DiskFile& file : files) {
      want[file.path] = file.bytes;
    }
    EXPECT_EQ(read_all(*volume), want);
    for (const RecordedFile& file : volume->files()) {
      EXPECT_GT(file.modified, 0) << file.path;
      EXPECT_EQ(file.recorder_path, "");
    }
  }
}

// The exFAT sample, each file as The Sleuth Kit's own file reader reads it.
TEST(Volume, ReadsTheExfatSampleAsTheSleuthKitsOwnReaderDoes) {
  const Scratch scratch;
  const fs::path image = scratch / "fs.exfat";
  if (!unpack_exfat_sample(image)) {
    GTEST_SKIP() << "forensics-samples-exfat is not installed; run scripts/setup";
  }
  const auto volume = opened(open_recorder_files(image.string()));
  ASSERT_TRUE(volume);
  EXPECT_EQ(volume->description(), "exFAT in partition 1");
  const auto read = read_all(*volume);
  EXPECT_TRUE(read.count("movie1/VID_20191220_170832.mp4"));
  EXPECT_FALSE(read.count("$ALLOC_BITMAP"));

  TSK_IMG_INFO* img = tsk_img_open_utf8_sing(image.c_str(), TSK_IMG_TYPE_RAW, 0);
  ASSERT_NE(img, nullptr);
  TSK_FS_INFO* fs = tsk_fs_open_img(img, 2048 * 512, TSK_FS_TYPE_EXFAT);
  ASSERT_NE(fs, nullptr);
  for (const auto& [path, bytes] : read) {
    TSK_FS_FILE* file = tsk_fs_file_open(fs, nullptr, ("/" + path).c_str());
    ASSERT_NE(file, nullptr) << path;
    std::string theirs(static_cast<std::size_t>(file->meta->size), '\0');
    EXPECT_EQ(tsk_fs_file_read(file, 0, theirs.data(), theirs.size(), TSK_FS_FILE_READ_FLAG_NONE),
              static_cast<ssize_t>(theirs.size()));
    EXPECT_TRUE(bytes == theirs) << path;
    tsk_fs_file_close(file);
  }
  tsk_fs_close(fs);
  tsk_img_close(img);
}

TEST(Volume, AnythingButAFatVolumeIsRefusedWithAReason) {
  const Scratch scratch;
  const fs::path junk = scratch / "junk.img";
  std::ofstream(junk, std::ios::binary) << pattern(1 << 20, 9);
  EXPECT_EQ(std::get<std::string>(open_recorder_files(junk.string())),
            "the disk holds no FAT or exFAT volume");
  EXPECT_THAT(std::get<std::string>(open_recorder_files((scratch / "none").string())),
              HasSubstr("No such file or directory"));
}

TEST(Volume, PathsTheStoreCannotHoldAreMadePlainAndUnique) {
  const std::string long_name(100, 'x');
  const std::string han = "执法";  // 6 bytes
  std::string long_han;
  for (int i = 0; i < 50; ++i) {
    long_han += han;
  }
  std::vector<RecordedFile> files;
  for (const std::string path : {"a/../b", "a/./c", "//d", "e", "x", "x", "y", "y/z", ""}) {
    files.emplace_back().path = path;
  }
  files[3].path = std::string("e\0f", 3);
  files[8].path = long_han + "/" + long_name;
  settle_paths(files);
  std::vector<std::string> paths;
  for (const RecordedFile& file : files) {
    paths.push_back(file.path);
  }
  EXPECT_EQ(paths[0], "a/_../b");
  EXPECT_EQ(paths[1], "a/_./c");
  EXPECT_EQ(paths[2], "d");
  EXPECT_EQ(paths[3], "e_f");
  EXPECT_EQ(paths[4], "x");
  EXPECT_EQ(paths[5], "x~2");
  EXPECT_EQ(paths[7], "y~d/z");
  const std::string first = paths[8].substr(0, paths[8].find('/'));
  EXPECT_LE(first.size(), 255u);
  EXPECT_EQ(first.substr(0, 6), han);
  EXPECT_EQ(files[8].recorder_path, long_han + "/" + long_name);
  EXPECT_EQ(files[4].recorder_path, "");
}

int mode_of(const fs::path& path) {
  struct stat info {};
  ::lstat(path.c_str(), &info);
  return static_cast<int>(info.st_mode & 07777);
}

// Every file and folder of a verified bag is read-only: nobody but its owner can change it.
void expect_sealed(const fs::path& bag) {
  EXPECT_EQ(mode_of(bag), 02550) << bag;
  for (const auto& entry : fs::recursive_directory_iterator(bag)) {
    EXPECT_EQ(mode_of(entry.path()), entry.is_directory() ? 02550 : 0440) << entry.path();
  }
}

class BagTest : public ::testing::Test {
 protected:
  void SetUp() override { make_fat32(image, recordings()); }

  BagOutcome offload(StoreIo* io = nullptr) {
    auto blocks = std::make_unique<TestBlocks>(image);
    setup_blocks(*blocks);
    blocks_ = blocks.get();
    volume_ = opened(read_volume(std::move(blocks)));
    if (!volume_) {
      return {};
    }
    StoreIo plain;
    BagEvents events;
    events.file_done = [&](const FileDone& done) {
      done_.push_back(done.file.path + (done.kept ? " kept" : ""));
    };
    Locked lock = lock_recorder(store, info.serial, "the test");
    EXPECT_TRUE(std::holds_alternative<RecorderLock>(lock));
    return write_bag(*volume_, store, std::get<RecorderLock>(lock), info, kStarted, events, {},
                     io ? *io : plain);
  }

  std::function<void(TestBlocks&)> setup_blocks = [](TestBlocks&) {};
  Scratch scratch;
  fs::path image = scratch / "disk.img";
  Store store{scratch / "store"};
  BagInfo info{"KBC0001",
               {"000001", "张三", "440300000000", "深圳市公安局"},
               "station-3",
               "alice",
               "kbcctl 0.2.0"};
  TestBlocks* blocks_ = nullptr;  // read by volume_
  std::unique_ptr<RecorderFiles> volume_;
  std::vector<std::string> done_;
};

TEST_F(BagTest, AVerifiedBagHoldsTheRecordingsWithManifestsAnyoneCanCheck) {
  const BagOutcome bag = offload();
  ASSERT_TRUE(bag.verified) << ::testing::PrintToString(english_lines(bag.problems));
  const fs::path where = scratch / "store/440300000000/000001/KBC0001_20261208T143005Z";
  EXPECT_EQ(bag.path, where);
  EXPECT_EQ(bag.files, 5u);
  EXPECT_EQ(bag.bytes, (3u << 20) + 700 * 1024 + 100 * 1024 + 7);
  EXPECT_FALSE(fs::exists(where.string() + ".partial"));
  EXPECT_FALSE(fs::exists(where / ".kbc-progress"));
  for (const DiskFile& file : recordings()) {
    EXPECT_TRUE(slurp(where / "data" / file.path) == file.bytes) << file.path;
  }
  EXPECT_EQ(slurp(where / "bagit.txt"), "BagIt-Version: 1.0\nTag-File-Character-Encoding: UTF-8\n");
  const std::string manifest = slurp(where / "manifest-sha256.txt");
  EXPECT_THAT(manifest, HasSubstr(sha256_hex(recordings()[0].bytes) +
                                  "  data/DCIM/100MEDIA/20261208_143005_0001.MP4\n"));
  const std::string info_text = slurp(where / "bag-info.txt");
  for (const char* line :
       {"Payload-Oxum: 3964935.5\n", "External-Identifier: KBC0001\n", "Officer-Name: 张三\n",
        "Unit-Number: 440300000000\n", "Source-Organization: 深圳市公安局\n",
        "Station-Host: station-3\n", "Station-Operator: alice\n", "Recorder-Volume: FAT32\n",
        "Offload-Started: 2026-12-08T14:30:05Z\n", "Bag-Software-Agent: kbcctl 0.2.0\n",
        "Recorder-Volume-Serial: "}) {
    EXPECT_THAT(info_text, HasSubstr(line));
  }
  EXPECT_THAT(info_text, ::testing::Not(HasSubstr("Recorder-Volume-Serial: unknown")));
  expect_sealed(where);
  EXPECT_EQ(bag.tagmanifest_sha256, sha256_hex(slurp(where / "tagmanifest-sha256.txt")));
  const BagCheck check = check_bag(where);
  EXPECT_TRUE(check.intact()) << ::testing::PrintToString(check.problems);
  EXPECT_EQ(check.tagmanifest_sha256, bag.tagmanifest_sha256);
  // Each byte of the recorder's files was read off it once.
  EXPECT_LT(blocks_->bytes_read, bag.bytes + (1u << 20));
}

// A store its group may write is shared by the station's operators and the upload service: what
// one makes the others can add to, whatever their umask. Anyone else's store stays private. A
// verified bag is nobody's to change, whatever the umask.
TEST_F(BagTest, AStoreItsGroupMayWriteGivesTheGroupItsFoldersAndQueue) {
  for (const auto& [umask, root_mode, folders, appended] :
       {std::tuple{022, 02770, 02770, 0660}, std::tuple{077, 02770, 02770, 0660},
        std::tuple{022, 0700, 0750, 0640}, std::tuple{077, 0700, 0750, 0640}}) {
    SCOPED_TRACE(std::to_string(umask) + " " + std::to_string(root_mode));
    const mode_t umask_was = ::umask(static_cast<mode_t>(umask));
    remove_tree(store.root());
    fs::create_directory(store.root());
    fs::permissions(store.root(), static_cast<fs::perms>(root_mode));
    const BagOutcome bag = offload();
    ASSERT_TRUE(bag.verified);
    const upload::UploadQueue queue(store);
    ASSERT_TRUE(queue.enqueue(bag.path));
    for (const fs::path& folder : {bag.path.parent_path().parent_path(), bag.path.parent_path(),
                                   queue.folder(), store.root() / ".locks"}) {
      EXPECT_EQ(mode_of(folder), folders) << folder;
    }
    EXPECT_EQ(mode_of(queue.folder() / (bag.name + ".state")), appended);
    // The evidence itself: nobody's to change, and readable by the upload service's group.
    expect_sealed(bag.path);
    ::umask(umask_was);
  }
}

// Breaks the store's writes or reads as a test row says.
class FaultyStore final : public StoreIo {
 public:
  ssize_t write(int fd, std::span<const std::byte> bytes) override {
    if (full_after && written_ + bytes.size() > *full_after) {
      errno = ENOSPC;
      return -1;
    }
    written_ += bytes.size();
    return StoreIo::write(fd, bytes);
  }
  ssize_t read(int fd, std::uint64_t offset, std::span<std::byte> bytes) override {
    // The file is changed on the disk just before its first read back.
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const std::string path = fs::read_symlink(link).string();
    if (!plant.empty() && !planted_ && path.find(".partial/data/") != std::string::npos) {
      // Someone else's file put into the bag while it is read back.
      planted_ = true;
      std::ofstream(path.substr(0, path.find("/data/") + 6) + plant) << "planted";
    }
    if (!change.empty() && path.ends_with(change) && !changed_) {
      changed_ = true;
      std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
      file.seekp(12345);
      file.put('\x5a');
    }
    return StoreIo::read(fd, offset, bytes);
  }
  int rename_noreplace(const char* from, const char* to) override {
    if (!refuse_rename.empty() && std::string_view(to).find(refuse_rename) != std::string::npos) {
      errno = EIO;
      return -1;
    }
    if (nfs) {
      // As NFS answers renameat2's flags.
      errno = EINVAL;
      return -1;
    }
    return StoreIo::rename_noreplace(from, to);
  }
  std::optional<Room> room(const char* path) override {
    if (free) {
      return Room{*free, 4096};
    }
    return StoreIo::room(path);
  }
  std::optional<std::uint64_t> full_after;  // bytes; then ENOSPC
  std::optional<std::uint64_t> free;        // what statvfs says is free
  bool nfs = false;
  std::string refuse_rename;  // a bag whose name holds this is not renamed into place
  std::string change;
  std::string plant;

 private:
  std::uint64_t written_ = 0;
  bool changed_ = false;
  bool planted_ = false;
};

TEST_F(BagTest, NothingIsCalledVerifiedThatIsNotAndTheBagStaysPartial) {
  const std::string big = "DCIM/100MEDIA/20261208_143005_0001.MP4";
  struct Row {
    const char* fault;
    std::function<void(TestBlocks&, FaultyStore&)> set;
    std::string names;  // the problem names this file
    bool gone;
  };
  const Row rows[] = {
      {"a read error in one file",
       [&](TestBlocks& blocks, FaultyStore&) {
         const std::uint64_t at = offset_of(image, recordings()[2].bytes.substr(0, 64));
         blocks.bad_range = {{at, at + 1}};
       },
       "DCIM/PHOTO/IMG0001.JPG: Input/output error", false},
      {"the disk pulled out",
       [&](TestBlocks& blocks, FaultyStore&) { blocks.gone_after = 2 << 20; },
       big + ": No such device", true},
      {"the store full", [](TestBlocks&, FaultyStore& store) { store.full_after = 1 << 20; },
       big + ": No space left on device", false},
      {"a byte changed in the store before it was read back",
       [](TestBlocks&, FaultyStore& store) { store.change = "IMG0001.JPG"; },
       "DCIM/PHOTO/IMG0001.JPG: the stored copy differs from what was read off the recorder",
       false},
      {"a file put into the bag while it is verified",
       [](TestBlocks&, FaultyStore& store) { store.plant = "DCIM/planted.mp4"; },
       "DCIM/planted.mp4: not listed in the bag", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fault);
    remove_tree(store.root());
    FaultyStore faulty;
    setup_blocks = [&](TestBlocks& blocks) { row.set(blocks, faulty); };
    const BagOutcome bag = offload(&faulty);
    EXPECT_FALSE(bag.verified);
    EXPECT_EQ(bag.disk_gone, row.gone);
    EXPECT_THAT(english_lines(bag.problems), ::testing::Contains(row.names));
    EXPECT_EQ(bag.path.extension(), ".partial");
    EXPECT_TRUE(fs::exists(bag.path));
    EXPECT_FALSE(store.newest_offload("KBC0001"));
    EXPECT_FALSE(fs::exists(bag.path / "manifest-sha256.txt"));
  }

  // A store without the room for the recordings refuses before it writes a byte, with both
  // figures; one that refuses renameat2's flags (NFS) still gets its bags, never over another.
  remove_tree(store.root());
  FaultyStore small;
  small.free = 2 << 20;
  setup_blocks = [](TestBlocks&) {};
  const BagOutcome refused = offload(&small);
  EXPECT_FALSE(refused.verified);
  EXPECT_THAT(english_lines(refused.problems),
              ElementsAre(::testing::MatchesRegex("the store has 2097152 bytes free; the offload "
                                                  "needs [0-9]+")));
  EXPECT_GT(refused.problems.front().needed, 3u << 20);
  EXPECT_TRUE(refused.path.empty());
  EXPECT_FALSE(fs::exists(store.officer_folder(info.officer) / "KBC0001_20261208T143005Z.partial"));
  FaultyStore nfs;
  nfs.nfs = true;
  const BagOutcome renamed = offload(&nfs);
  ASSERT_TRUE(renamed.verified) << ::testing::PrintToString(english_lines(renamed.problems));
  EXPECT_TRUE(check_bag(renamed.path).intact());
  EXPECT_FALSE(fs::exists(renamed.path / ".kbc-progress"));
  const BagOutcome again = offload(&nfs);
  ASSERT_TRUE(again.verified);
  EXPECT_NE(again.path, renamed.path);
  EXPECT_TRUE(check_bag(renamed.path).intact());
}

TEST_F(BagTest, ABagCutShortIsFinishedByTheNextOffloadReadingOnlyWhatItLacks) {
  // The disk goes after the first two files; what was stored whole stays.
  setup_blocks = [](TestBlocks& blocks) { blocks.gone_after = (3 << 20) + 700 * 1024; };
  const BagOutcome cut = offload();
  ASSERT_FALSE(cut.verified);
  EXPECT_TRUE(cut.disk_gone);
  EXPECT_EQ(done_.size(), 2u);

  done_.clear();
  setup_blocks = [](TestBlocks&) {};
  const BagOutcome resumed = offload();
  ASSERT_TRUE(resumed.verified) << ::testing::PrintToString(english_lines(resumed.problems));
  EXPECT_EQ(resumed.kept, 2u);
  EXPECT_TRUE(resumed.set_aside.empty());
  EXPECT_THAT(done_, ElementsAre("DCIM/100MEDIA/20261208_143005_0001.MP4 kept",
                                 "DCIM/100MEDIA/执法记录仪 2026年12月8日 长名字录像.MP4 kept",
                                 "DCIM/PHOTO/IMG0001.JPG", "RECORD/empty.wav", "readme.txt"));
  // Only the files it lacked were read off the recorder this time.
  EXPECT_LT(blocks_->bytes_read, 100u * 1024 + 7 + (1u << 20));
  EXPECT_TRUE(check_bag(resumed.path).intact());
  // No ".partial" bag is left, and the erase counts from the verification, not the name.
  EXPECT_EQ(std::distance(fs::directory_iterator(resumed.path.parent_path()), {}), 1);
  const auto newest = store.newest_offload("KBC0001");
  ASSERT_TRUE(newest);
  EXPECT_GE(newest->verified, std::chrono::floor<std::chrono::seconds>(
                                  std::chrono::system_clock::now() - std::chrono::minutes(1)));
}

// The recorder changed between an offload cut short and the next: a file erased, or another
// written in a file's place with the same name, size and time. The bag verified lists exactly
// what it holds, and the file the recorder no longer has is kept in a verified bag of its own.
TEST_F(BagTest, FilesTheRecorderNoLongerHoldsAreSetAsideInAVerifiedBagOfTheirOwn) {
  const std::string photo = "DCIM/PHOTO/IMG0001.JPG";
  const std::string big = "DCIM/100MEDIA/20261208_143005_0001.MP4";
  const struct {
    const char* change;
    std::function<void(std::int64_t modified)> make;
    std::string set_aside;  // the file set aside
    std::uint64_t files;    // in the bag verified
    std::string reason;
  } rows[] = {
      {"a file erased", [&](std::int64_t) { delete_file(image, photo); }, photo, 4,
       "not-on-recorder"},
      {"a file replaced by one of the same name, size and time",
       [&](std::int64_t modified) {
         replace_file(image, photo, pattern(100 * 1024, 77), modified);
       },
       photo, 5, "replaced-on-recorder"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.change);
    remove_tree(store.root());
    make_fat32(image, recordings());
    // Cut after the big file and the photo, the long-named one left for later.
    setup_blocks = [&](TestBlocks& blocks) {
      const std::uint64_t at = offset_of(image, recordings()[1].bytes.substr(0, 64));
      blocks.bad_range = {{at, at + 1}};
    };
    const BagOutcome cut = offload();
    ASSERT_FALSE(cut.verified);
    std::int64_t modified = 0;
    for (const RecordedFile& file : volume_->files()) {
      modified = file.path == photo ? file.modified : modified;
    }
    volume_.reset();
    row.make(modified);
    setup_blocks = [](TestBlocks&) {};
    done_.clear();
    const BagOutcome resumed = offload();
    ASSERT_TRUE(resumed.verified) << ::testing::PrintToString(english_lines(resumed.problems));
    EXPECT_EQ(resumed.files, row.files);
    EXPECT_THAT(done_, ::testing::Contains(big + " kept"));
    EXPECT_THAT(done_, ::testing::Not(::testing::Contains(photo + " kept")));
    const BagCheck check = check_bag(resumed.path);
    EXPECT_TRUE(check.intact()) << ::testing::PrintToString(check.added);
    EXPECT_EQ(check.files, row.files);
    expect_sealed(resumed.path);

    ASSERT_EQ(resumed.set_aside.size(), 1u);
    const SetAsideBag& aside = resumed.set_aside.front();
    ASSERT_TRUE(aside.verified) << ::testing::PrintToString(english_lines(aside.problems));
    EXPECT_EQ(aside.files, 1u);
    EXPECT_TRUE(check_bag(aside.path).intact());
    expect_sealed(aside.path);
    EXPECT_TRUE(slurp(aside.path / "data" / cut.name / photo) == recordings()[2].bytes);
    EXPECT_THAT(slurp(aside.path / "set-aside-files.txt"),
                HasSubstr(cut.name + "/" + photo + "\twhole\t102400\t" +
                          sha256_hex(recordings()[2].bytes) + "\t" + row.reason + "\n"));
    EXPECT_THAT(slurp(aside.path / "bag-info.txt"), HasSubstr("Set-Aside-From: " + cut.name));
    // Set aside, it is no offload of the recorder: the erase counts only the bag verified.
    EXPECT_EQ(store.newest_offload("KBC0001")->path, resumed.path);
    EXPECT_EQ(store.bags().size(), 2u);
  }

  // A set-aside bag that could not be finished keeps its files and its record; the next offload
  // of the recorder finishes it before anything else.
  remove_tree(store.root());
  make_fat32(image, recordings());
  setup_blocks = [&](TestBlocks& blocks) {
    const std::uint64_t at = offset_of(image, recordings()[1].bytes.substr(0, 64));
    blocks.bad_range = {{at, at + 1}};
  };
  ASSERT_FALSE(offload().verified);
  volume_.reset();
  delete_file(image, photo);
  setup_blocks = [](TestBlocks&) {};
  FaultyStore refusing;
  refusing.refuse_rename = "-set-aside";
  const BagOutcome unfinished = offload(&refusing);
  ASSERT_TRUE(unfinished.verified);
  ASSERT_EQ(unfinished.set_aside.size(), 1u);
  EXPECT_FALSE(unfinished.set_aside.front().verified);
  EXPECT_EQ(unfinished.set_aside.front().path.extension(), ".partial");
  const BagOutcome next = offload();
  ASSERT_TRUE(next.verified);
  ASSERT_EQ(next.set_aside.size(), 1u);
  EXPECT_TRUE(next.set_aside.front().verified);
  EXPECT_TRUE(check_bag(next.set_aside.front().path).intact());
  EXPECT_THAT(slurp(next.set_aside.front().path / "set-aside-files.txt"),
              HasSubstr(photo + "\twhole\t"));
}

// One offload of a recorder at a time: a second finds the first's lock and who holds it.
TEST_F(BagTest, ASecondRunOfTheRecorderFindsItsLockAndWhoHoldsIt) {
  Locked first = lock_recorder(store, "KBC0001", lock_holder_text("station-3", "alice"));
  ASSERT_TRUE(std::holds_alternative<RecorderLock>(first));
  const Locked second = lock_recorder(store, "KBC0001", "someone else");
  ASSERT_TRUE(std::holds_alternative<LockBusy>(second));
  EXPECT_THAT(std::get<LockBusy>(second).holder,
              ::testing::MatchesRegex("host station-3, pid [0-9]+, user alice, since "
                                      "20[0-9-]+T[0-9:]+Z"));
  // Another recorder is another lock; the lock goes with its holder.
  EXPECT_TRUE(std::holds_alternative<RecorderLock>(lock_recorder(store, "KBC0002", "x")));
  first = LockFailed{0};
  EXPECT_TRUE(std::holds_alternative<RecorderLock>(lock_recorder(store, "KBC0001", "x")));
  // A store that cannot be made (sysfs takes no folders of ours) says why, not that the folder
  // of its locks was not there.
  const Locked nowhere = lock_recorder(Store("/sys/kbc-test-store/store"), "KBC0001", "x");
  ASSERT_TRUE(std::holds_alternative<LockFailed>(nowhere));
  EXPECT_NE(std::get<LockFailed>(nowhere).error, ENOENT);
}

// A crash between a bag's verification and its queueing, or in the middle of its state file's
// first line, is mended by the next upload before it sends anything.
TEST_F(BagTest, TheUploadQueueQueuesAVerifiedBagItMissedAndMendsATornStateFile) {
  const BagOutcome first = offload();
  ASSERT_TRUE(first.verified);
  const BagOutcome second = offload();
  ASSERT_TRUE(second.verified);
  const upload::UploadQueue queue(store);
  ASSERT_EQ(queue.make_folder(), 0);
  std::ofstream(queue.state_file(second.name)) << "bag KBC00";
  const upload::UploadQueue::Repaired repaired = queue.repair();
  EXPECT_THAT(repaired.problems, IsEmpty());
  EXPECT_THAT(repaired.done,
              ::testing::UnorderedElementsAre(first.name + ": verified but not queued; queued now",
                                              second.name + ": its torn state file written anew"));
  for (const BagOutcome* bag : {&first, &second}) {
    const auto queued = queue.find(bag->name);
    ASSERT_TRUE(queued);
    EXPECT_EQ(queued->bag, bag->path);
    EXPECT_EQ(queued->files, 5u);
  }
  EXPECT_THAT(queue.repair().done, IsEmpty());
  // A line that cannot be appended is a failure, never a step done.
  EXPECT_NE(upload::append_state(queue.folder() / "gone.state", "stored x"), 0);
}

// What the store's records say is read back as it was written, and a line a crash cut short, or
// one that is no line of the record, is nobody's word: a manifest, a bag's progress, a queue's
// state.
TEST(Records, OnlyWholeLinesAreRead) {
  const std::string sha(64, 'a');
  const Manifest manifest = parse_manifest(std::string(64, 'A') + "  data/a%0Ab\r\n" + sha +
                                           "\tdata/c\n" + "xyz  data/d\n" + sha + "  data/%zz\n");
  ASSERT_EQ(manifest.lines.size(), 2u);
  EXPECT_EQ(manifest.lines[0].sha256, sha);
  EXPECT_EQ(manifest.lines[0].path, "data/a\nb");
  EXPECT_EQ(manifest.lines[1].path, "data/c");
  EXPECT_THAT(manifest.bad_lines, ElementsAre(3, 4));
  for (const auto& [path, inside] :
       {std::pair{"data/a/b", true}, std::pair{"../etc/passwd", false},
        std::pair{"/etc/passwd", false}, std::pair{"data/./a", false}, std::pair{"data//a", false},
        std::pair{"data/a/", false}, std::pair{"", false}}) {
    EXPECT_EQ(inside_bag(path), inside) << path;
  }

  const Scratch scratch;
  const FileIdentity id{39, 1295, 7, 1796740205, 1796740205, 500};
  std::ofstream(scratch / "progress")
      << progress_start("1A2B-3C4D") << held_line("DCIM/A.MP4", id, sha)
      << "held " + sha + " 39 1295 7 1796740205 1796740205 500 DCIM/B.M";
  const Progress progress = read_progress(scratch / "progress");
  EXPECT_EQ(progress.volume, "1A2B-3C4D");
  ASSERT_EQ(progress.files.size(), 2u);
  EXPECT_TRUE(progress.files.at("DCIM/A.MP4").whole);
  EXPECT_EQ(progress.files.at("DCIM/A.MP4").identity, id);
  // A record of an earlier version names no volume: nothing of it is ever kept.
  std::ofstream(scratch / "old") << sha << " 7 1796740205 DCIM/A.MP4\n";
  EXPECT_FALSE(read_progress(scratch / "old").volume);

  std::ofstream(scratch / "state") << "bag 440300000000/000001/KBC0001_20261208T143005Z\n"
                                   << "object " << sha << " 7 v1 2027-06-06T14:30:05Z k%20a\n"
                                   << "object " << sha << " v0 old\n"
                                   << "stored 2027-06-06T14:30:05Z";
  const upload::QueueState state = upload::read_state(scratch / "state");
  EXPECT_EQ(state.bag, "440300000000/000001/KBC0001_20261208T143005Z");
  EXPECT_FALSE(state.stored);  // its line has no end
  ASSERT_EQ(state.objects.size(), 2u);
  EXPECT_EQ(state.objects.at("k a").retain_until, "2027-06-06T14:30:05Z");
  EXPECT_EQ(state.objects.at("k a").size, 7u);
  EXPECT_EQ(state.objects.at("old").version, "v0");
  // A bag that keeps failing waits longer, up to a day, after a few free tries.
  for (const auto& [failures, hours] : {std::pair{0, 0}, std::pair{2, 0}, std::pair{3, 1},
                                        std::pair{4, 2}, std::pair{7, 16}, std::pair{40, 24}}) {
    EXPECT_EQ(upload::backoff(failures), std::chrono::hours(hours)) << failures;
  }
}

TEST_F(BagTest, ACheckSaysWhichFilesAreMissingChangedOrAdded) {
  const BagOutcome bag = offload();
  ASSERT_TRUE(bag.verified);
  const fs::path data = bag.path / "data";
  // Whoever changes a verified bag has made it writable first.
  for (const auto& entry : fs::recursive_directory_iterator(bag.path)) {
    fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
  }
  fs::permissions(bag.path, fs::perms::owner_write, fs::perm_options::add);
  fs::remove(data / "readme.txt");
  std::fstream(data / "DCIM/PHOTO/IMG0001.JPG", std::ios::in | std::ios::out | std::ios::binary)
      .put('!');
  std::ofstream(data / "DCIM/extra.mp4") << "planted";
  const BagCheck check = check_bag(bag.path);
  EXPECT_FALSE(check.intact());
  EXPECT_THAT(check.missing, ElementsAre("data/readme.txt"));
  EXPECT_THAT(check.changed, ElementsAre("data/DCIM/PHOTO/IMG0001.JPG"));
  EXPECT_THAT(check.added, ElementsAre("data/DCIM/extra.mp4"));

  // A manifest rewritten to hide a change is itself a change the tag manifest shows.
  std::ofstream(bag.path / "manifest-sha256.txt", std::ios::app)
      << sha256_hex("planted") << "  data/DCIM/extra.mp4\n";
  EXPECT_THAT(check_bag(bag.path).problems, ::testing::Contains("manifest-sha256.txt has changed"));
  EXPECT_THAT(check_bag(scratch.path()).problems, ElementsAre("not a bag: no bagit.txt"));
}

}  // namespace
}  // namespace kbc::evidence::testing
