// kbc_offload_benchmark WORKDIR: how an offload compares with the least any copy must do.
//
// In WORKDIR (made once, kept for the next run) a FAT32 image of over 2 GiB as a recorder holds
// it: 200 recordings of 8 to 200 MB and 1,000 photos of 100 KB in nested folders, long Chinese
// names among them. Then, each from a cold page cache where the machine allows it (root writes
// /proc/sys/vm/drop_caches):
//   floor    one read of the image, one write of its bytes with fsync, one read back from the
//            disk (the copy's cached pages dropped first, as the offload drops its files');
//   offload  kbcctl offload --from IMAGE into a store on the same disk;
//   4 at once  four kbcctl offloads of four copies of the image at the same time.
// Prints wall time, CPU time per GiB and peak memory of each; the ratio of the offload to the
// floor; the total throughput of four against one. Not a test: nothing is asserted.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "evidence/sha256.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr double kGiB = 1024.0 * 1024 * 1024;

bool run(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

void drop_caches() {
  ::sync();
  std::ofstream drop("/proc/sys/vm/drop_caches");
  if (drop) {
    drop << "3\n";
  }
}

bool caches_droppable() {
  return ::access("/proc/sys/vm/drop_caches", W_OK) == 0;
}

// Fast bytes that do not compress or repeat: xorshift.
void fill(std::vector<char>& buffer, std::uint64_t& state) {
  auto* words = reinterpret_cast<std::uint64_t*>(buffer.data());
  for (std::size_t i = 0; i < buffer.size() / 8; ++i) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    words[i] = state;
  }
}

void write_file(const fs::path& path, std::uint64_t size, std::uint64_t seed) {
  std::vector<char> buffer(1 << 20);
  std::ofstream out(path, std::ios::binary);
  for (std::uint64_t left = size; left > 0;) {
    fill(buffer, seed);
    const auto n = static_cast<std::streamsize>(std::min<std::uint64_t>(left, buffer.size()));
    out.write(buffer.data(), n);
    left -= static_cast<std::uint64_t>(n);
  }
}

// The recorder's image: returns its payload in bytes.
std::uint64_t make_image(const fs::path& work, const fs::path& image) {
  std::uint64_t payload = 0;
  const fs::path staging = work / "staging";
  fs::create_directories(staging);
  std::vector<std::pair<std::string, std::uint64_t>> files;
  for (int i = 0; i < 200; ++i) {
    // Most recordings short, a few long: 8 MB up to 200 MB, 2 GiB in all with the photos.
    const std::uint64_t mb = i % 20 == 0 ? 120 + static_cast<std::uint64_t>(i) % 80 : 8;
    char name[128];
    std::snprintf(name, sizeof name, "DCIM/%03dMEDIA/执法记录仪录像 %04d 第%d段 长文件名.MP4",
                  100 + i / 50, i, i % 7);
    files.emplace_back(name, mb * 1000 * 1000);
  }
  for (int i = 0; i < 1000; ++i) {
    char name[96];
    std::snprintf(name, sizeof name, "PHOTO/%02d/IMG%05d.JPG", i / 100, i);
    files.emplace_back(name, 100 * 1000);
  }
  for (const auto& [name, size] : files) {
    payload += size;
  }
  const std::uint64_t kib = (payload * 105 / 100 + (64u << 20)) / 1024;
  if (!run("rm -f '" + image.string() + "' && mkfs.vfat -C -F 32 -n RECORDER '" + image.string() +
           "' " + std::to_string(kib) + " >/dev/null")) {
    return 0;
  }
  std::vector<std::string> made;
  std::uint64_t seed = 0x9e3779b97f4a7c15;
  for (const auto& [name, size] : files) {
    const std::string folder = fs::path(name).parent_path().string();
    for (std::size_t slash = 0; slash != std::string::npos;) {
      slash = folder.find('/', slash + 1);
      const std::string part = folder.substr(0, slash);
      if (std::find(made.begin(), made.end(), part) == made.end()) {
        run("MTOOLS_SKIP_CHECK=1 mmd -i '" + image.string() + "' '::/" + part + "'");
        made.push_back(part);
      }
    }
    const fs::path source = staging / "file";
    write_file(source, size, ++seed * 2654435761u);
    if (!run("LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 mcopy -i '" + image.string() + "' '" +
             source.string() + "' '::/" + name + "'")) {
      return 0;
    }
  }
  fs::remove_all(staging);
  return payload;
}

struct Measure {
  double seconds = 0;
  double cpu = 0;       // user + system seconds
  double peak_mib = 0;  // the largest resident set among the processes
};

// The children's time and memory for what `body` starts and waits for.
template <typename Body>
Measure measured(Body body) {
  rusage before{};
  ::getrusage(RUSAGE_CHILDREN, &before);
  const auto start = Clock::now();
  body();
  Measure measure;
  measure.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  rusage after{};
  ::getrusage(RUSAGE_CHILDREN, &after);
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  measure.cpu = seconds(after.ru_utime) - seconds(before.ru_utime) + seconds(after.ru_stime) -
                seconds(before.ru_stime);
  measure.peak_mib = after.ru_maxrss / 1024.0;
  return measure;
}

// The least any copy does, in a child of its own: read, write with fsync, read back.
void floor_copy(const fs::path& image, const fs::path& copy) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::vector<char> buffer(1 << 20);
    const int in = ::open(image.c_str(), O_RDONLY);
    const int out = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0640);
    ssize_t n = 0;
    while ((n = ::read(in, buffer.data(), buffer.size())) > 0) {
      if (::write(out, buffer.data(), static_cast<std::size_t>(n)) != n) {
        ::_exit(1);
      }
    }
    ::fsync(out);
    ::posix_fadvise(out, 0, 0, POSIX_FADV_DONTNEED);
    ::close(out);
    const int back = ::open(copy.c_str(), O_RDONLY);
    while (::read(back, buffer.data(), buffer.size()) > 0) {
    }
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
}

pid_t start_offload(const std::string& kbcctl, const fs::path& image, const fs::path& store,
                    const std::string& serial) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl(kbcctl.c_str(), kbcctl.c_str(), "offload", "--from", image.c_str(), "--serial",
            serial.c_str(), "--store", store.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

void wait_all(const std::vector<pid_t>& pids) {
  for (const pid_t pid : pids) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "kbc_offload_benchmark: an offload failed\n");
    }
  }
}

// A store's bags are read-only, folders and all: made writable again to go.
void remove_store(const fs::path& store) {
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(store, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
  }
  fs::remove_all(store, error);
}

void print(const char* what, const Measure& m, double gib) {
  std::printf("%-14s %8.2f s  %7.1f MB/s  CPU %5.2f s/GiB  peak %6.1f MiB\n", what, m.seconds,
              gib * kGiB / 1e6 / m.seconds, m.cpu / gib, m.peak_mib);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kbc_offload_benchmark WORKDIR\n");
    return 2;
  }
  const fs::path work = fs::absolute(argv[1]);
  fs::create_directories(work);
  const fs::path image = work / "recorder.img";
  if (!fs::exists(image) || fs::file_size(image) < (2ull << 30)) {
    std::printf("making the recorder's image (once)...\n");
    if (make_image(work, image) == 0) {
      std::fprintf(stderr, "kbc_offload_benchmark: cannot make the image (dosfstools, mtools)\n");
      return 1;
    }
  }
  const double gib = static_cast<double>(fs::file_size(image)) / kGiB;
  std::printf("image %.2f GiB; page cache %s\n", gib,
              caches_droppable() ? "dropped before each run" : "kept (not root)");
  const std::string kbcctl = KBC_KBCCTL;

  remove_store(work / "store");
  fs::remove(work / "copy.img");
  drop_caches();
  const Measure floor = measured([&] { floor_copy(image, work / "copy.img"); });
  fs::remove(work / "copy.img");
  drop_caches();
  const Measure one =
      measured([&] { wait_all({start_offload(kbcctl, image, work / "store", "KBC0001")}); });
  remove_store(work / "store");

  for (int i = 1; i < 4; ++i) {
    const fs::path copy = work / ("recorder-" + std::to_string(i) + ".img");
    if (!fs::exists(copy)) {
      fs::copy_file(image, copy);
    }
  }
  drop_caches();
  const Measure four = measured([&] {
    std::vector<pid_t> pids;
    for (int i = 0; i < 4; ++i) {
      const fs::path from = i == 0 ? image : work / ("recorder-" + std::to_string(i) + ".img");
      pids.push_back(start_offload(kbcctl, from, work / "store", "KBC000" + std::to_string(i + 1)));
    }
    wait_all(pids);
  });
  remove_store(work / "store");

  print("floor", floor, gib);
  print("offload", one, gib);
  print("4 at once", four, 4 * gib);
  std::printf("offload / floor       %.3f\n", one.seconds / floor.seconds);
  std::printf("4 at once / 1, total throughput  %.2f\n",
              (4 * gib / four.seconds) / (gib / one.seconds));
  return 0;
}
