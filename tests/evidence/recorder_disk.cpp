#include "recorder_disk.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

extern char** environ;

namespace kbc::evidence::testing {
namespace fs = std::filesystem;
namespace {

// Runs a program with its arguments; its status.
int run(std::vector<std::string> argv) {
  std::vector<char*> args;
  for (std::string& arg : argv) {
    args.push_back(arg.data());
  }
  args.push_back(nullptr);
  // mtools names long file names in the locale's character set.
  std::vector<std::string> env{"LC_ALL=C.UTF-8", "PATH=/usr/sbin:/usr/bin:/sbin:/bin",
                               "MTOOLS_SKIP_CHECK=1"};
  std::vector<char*> envp;
  for (std::string& entry : env) {
    envp.push_back(entry.data());
  }
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    return -1;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

std::string pattern(std::size_t size, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) {
    c = static_cast<char>(random() & 0xff);
  }
  return bytes;
}

Scratch::Scratch() {
  std::string name = (fs::temp_directory_path() / "kbc-evidence-XXXXXX").string();
  path_ = ::mkdtemp(name.data());
}

Scratch::~Scratch() {
  remove_tree(path_);
}

void remove_tree(const fs::path& path) {
  std::error_code error;
  // A verified bag is read-only, its folders too: its owner gives itself the right again first.
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, error);
  for (auto it = fs::recursive_directory_iterator(path, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_directory(error) && !it->is_symlink(error)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
  }
  fs::remove_all(path, error);
}

void make_fat32(const fs::path& image, const std::vector<DiskFile>& files, int megabytes,
                bool partitioned) {
  fs::remove(image);
  const std::string sectors = std::to_string(megabytes * 2048);
  const std::string offset = "2048";
  if (partitioned) {
    // An MBR with one partition of type 0x0c (FAT32, LBA) from sector 2048.
    std::string disk(static_cast<std::size_t>(megabytes) << 20, '\0');
    const std::uint32_t start = 2048;
    const std::uint32_t count = static_cast<std::uint32_t>(megabytes) * 2048 - start;
    unsigned char* entry = reinterpret_cast<unsigned char*>(disk.data()) + 0x1BE;
    entry[4] = 0x0c;
    for (int i = 0; i < 4; ++i) {
      entry[8 + i] = static_cast<unsigned char>(start >> (8 * i));
      entry[12 + i] = static_cast<unsigned char>(count >> (8 * i));
    }
    disk[510] = static_cast<char>(0x55);
    disk[511] = static_cast<char>(0xAA);
    write_file(image, disk);
    ASSERT_EQ(run({"mkfs.vfat", "-F", "32", "-n", "RECORDER", "--offset", offset, image.string(),
                   std::to_string(count / 2)}),
              0);
  } else {
    ASSERT_EQ(run({"mkfs.vfat", "-C", "-F", "32", "-n", "RECORDER", image.string(),
                   std::to_string(megabytes * 1024)}),
              0)
        << sectors;
  }
  const std::string target = image.string() + (partitioned ? "@@1M" : "");
  const Scratch staging;
  std::vector<std::string> made;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const DiskFile& file = files[i];
    // Each folder on the way, once.
    for (std::size_t slash = file.path.find('/'); slash != std::string::npos;
         slash = file.path.find('/', slash + 1)) {
      const std::string folder = file.path.substr(0, slash);
      if (std::find(made.begin(), made.end(), folder) == made.end()) {
        ASSERT_EQ(run({"mmd", "-i", target, "::/" + folder}), 0) << folder;
        made.push_back(folder);
      }
    }
    const fs::path source = staging / ("f" + std::to_string(i));
    write_file(source, file.bytes);
    ASSERT_EQ(run({"mcopy", "-i", target, source.string(), "::/" + file.path}), 0) << file.path;
  }
}

void delete_file(const fs::path& image, const std::string& path) {
  ASSERT_EQ(run({"mdel", "-i", image.string(), "::/" + path}), 0) << path;
}

void replace_file(const fs::path& image, const std::string& path, const std::string& bytes,
                  std::int64_t modified) {
  delete_file(image, path);
  const Scratch staging;
  const fs::path source = staging / "new";
  write_file(source, bytes);
  const timespec times[2] = {{modified, 0}, {modified, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
  // -m keeps the source's modification time.
  ASSERT_EQ(run({"mcopy", "-m", "-i", image.string(), source.string(), "::/" + path}), 0) << path;
}

bool unpack_exfat_sample(const fs::path& image) {
  const fs::path sample = "/usr/share/forensics-samples/fs.exfat.xz";
  if (!fs::exists(sample)) {
    return false;
  }
  const std::string command = "xz -dc '" + sample.string() + "' > '" + image.string() + "'";
  return std::system(command.c_str()) == 0;
}

TestBlocks::TestBlocks(const fs::path& image) {
  auto opened = FileBlocks::open(image.string());
  if (auto* problem = std::get_if<std::string>(&opened)) {
    ADD_FAILURE() << *problem;
    return;
  }
  inner_ = std::move(std::get<0>(opened));
}

std::int64_t TestBlocks::read_at(std::uint64_t offset, std::span<std::byte> bytes) {
  if (gone_after && bytes_read >= *gone_after) {
    return -ENODEV;
  }
  if (bad_range && offset < bad_range->second && offset + bytes.size() > bad_range->first) {
    return -EIO;
  }
  const std::int64_t n = inner_->read_at(offset, bytes);
  if (n > 0) {
    bytes_read += static_cast<std::uint64_t>(n);
  }
  return n;
}

std::uint64_t offset_of(const fs::path& image, const std::string& bytes) {
  const std::string disk = read_file(image);
  const std::size_t at = disk.find(bytes);
  EXPECT_NE(at, std::string::npos);
  return at;
}

}  // namespace kbc::evidence::testing
