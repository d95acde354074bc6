#include "evidence/copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "evidence/sha256.h"
#include "link/descriptor.h"

namespace kbc::evidence {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t kChunkBytes = 1 << 20;
// Between the recorder's reads and the store's writes: enough to ride out a slow fsync.
constexpr std::size_t kBuffers = 16;
// A disk that fails file after file is going or gone.
constexpr int kFailuresInARow = 3;

// A queue between two threads; pop waits for an item or for the end.
template <typename T>
class Channel {
 public:
  void push(T item) {
    {
      const std::lock_guard lock(mutex_);
      items_.push_back(std::move(item));
    }
    ready_.notify_one();
  }
  void close() {
    {
      const std::lock_guard lock(mutex_);
      closed_ = true;
    }
    ready_.notify_all();
  }
  std::optional<T> pop() {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [&] { return !items_.empty() || closed_; });
    if (items_.empty()) {
      return std::nullopt;
    }
    T item = std::move(items_.front());
    items_.pop_front();
    return item;
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<T> items_;
  bool closed_ = false;
};

// The buffers the reader fills and the writer empties: the reader waits for one to come back, so
// that it is never more than kBuffers ahead.
class Buffers {
 public:
  Buffers() {
    for (std::size_t i = 0; i < kBuffers; ++i) {
      free_.emplace_back(kChunkBytes);
    }
  }
  // nullopt once the copy is given up.
  std::optional<std::vector<std::byte>> take() {
    std::unique_lock lock(mutex_);
    back_.wait(lock, [&] { return !free_.empty() || given_up_; });
    if (given_up_) {
      return std::nullopt;
    }
    std::vector<std::byte> buffer = std::move(free_.back());
    free_.pop_back();
    return buffer;
  }
  void give(std::vector<std::byte> buffer) {
    {
      const std::lock_guard lock(mutex_);
      free_.push_back(std::move(buffer));
    }
    back_.notify_one();
  }
  void give_up() {
    {
      const std::lock_guard lock(mutex_);
      given_up_ = true;
    }
    back_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable back_;
  std::vector<std::vector<std::byte>> free_;
  bool given_up_ = false;
};

// What the reader tells the writer, in order: a file begins, its bytes, its end.
struct Piece {
  enum class Kind { begin, bytes, end } kind = Kind::begin;
  std::size_t slot = 0;  // in the copy's indices
  std::vector<std::byte> buffer{};
  std::size_t length = 0;
  std::string sha256{};
  std::uint64_t copied = 0;
  std::optional<ReadFailure> failure{};
};

// A file written, for the read-back.
struct Written {
  std::size_t slot;
  fs::path path;
  std::string sha256;
  std::uint64_t size;
};

std::string error_text(int error) {
  return std::strerror(error);
}

class Copy {
 public:
  Copy(RecorderFiles& files, std::span<const std::size_t> indices, const fs::path& data,
       const Store& store, StoreIo& io, std::stop_token stop, const CopyEvents& events,
       const std::function<void(const fs::path&)>& changed)
      : files_(files),
        indices_(indices),
        data_(data),
        store_(store),
        io_(io),
        stop_(std::move(stop)),
        events_(events),
        changed_(changed) {
    outcome_.stored.resize(indices.size());
  }

  CopyOutcome run() {
    {
      std::jthread reader([this] { read_all(); });
      std::jthread reading_back([this] { read_back_all(); });
      write_all_pieces();
      written_.close();
      if (events_.verifying && !outcome_.stopped && !outcome_.cancelled) {
        events_.verifying();
      }
    }
    return std::move(outcome_);
  }

 private:
  const RecordedFile& file(std::size_t slot) const { return files_.files()[indices_[slot]]; }

  void problem(BagProblem::Kind kind, const std::string& path, std::string detail) {
    const std::lock_guard lock(problems_);
    outcome_.problems.push_back({kind, path, std::move(detail)});
  }

  // Nothing more is read or written; what was written is still read back.
  void give_up() {
    outcome_.stopped = true;
    given_up_ = true;
    buffers_.give_up();
  }

  // The reader's thread: each file read off the recorder and hashed.
  void read_all() {
    for (std::size_t slot = 0; slot < indices_.size() && !given_up_; ++slot) {
      if (stop_.stop_requested()) {
        break;
      }
      pieces_.push({Piece::Kind::begin, slot});
      Sha256 hash;
      std::uint64_t copied = 0;
      const std::optional<ReadFailure> failure =
          files_.read(indices_[slot], [&](std::span<const std::byte> bytes) {
            while (!bytes.empty()) {
              std::optional<std::vector<std::byte>> buffer = buffers_.take();
              if (!buffer) {
                return false;
              }
              const std::size_t length = std::min(bytes.size(), buffer->size());
              std::memcpy(buffer->data(), bytes.data(), length);
              hash.update(bytes.first(length));
              copied += length;
              bytes = bytes.subspan(length);
              pieces_.push({Piece::Kind::bytes, slot, std::move(*buffer), length});
            }
            return !stop_.stop_requested() && !given_up_;
          });
      Piece end{Piece::Kind::end, slot};
      end.sha256 = hash.hex();
      end.copied = copied;
      end.failure = failure;
      pieces_.push(std::move(end));
    }
    pieces_.close();
  }

  // The caller's thread: each file written, synced and handed to the read-back.
  void write_all_pieces() {
    link::Descriptor out(-1);
    bool skipping = false;  // the file in hand could not be opened: its bytes go nowhere
    while (std::optional<Piece> piece = pieces_.pop()) {
      const RecordedFile& recorded = file(piece->slot);
      const fs::path stored = data_ / recorded.path;
      switch (piece->kind) {
        case Piece::Kind::begin:
          skipping = given_up_;
          if (!skipping) {
            out = open_new(piece->slot, stored);
            skipping = out.get() < 0;
          }
          break;
        case Piece::Kind::bytes:
          if (!skipping) {
            if (const int error =
                    write_all(out.get(), std::span(piece->buffer).first(piece->length), io_);
                error != 0) {
              problem(BagProblem::Kind::store, recorded.path, error_text(error));
              give_up();
              skipping = true;
            } else {
              written_bytes_ += piece->length;
              if (events_.progress) {
                events_.progress(written_bytes_);
              }
            }
          }
          buffers_.give(std::move(piece->buffer));
          break;
        case Piece::Kind::end:
          if (!skipping) {
            finish_file(*piece, recorded, stored, std::move(out));
          }
          out = link::Descriptor(-1);
          skipping = false;
          break;
      }
    }
    if (stop_.stop_requested() && !outcome_.stopped) {
      outcome_.cancelled = true;
    }
  }

  link::Descriptor open_new(std::size_t slot, const fs::path& stored) {
    const RecordedFile& recorded = file(slot);
    if (const int error =
            store_.make_folders(data_, fs::path(recorded.path).parent_path(), changed_);
        error != 0) {
      problem(BagProblem::Kind::store, recorded.path, error_text(error));
      give_up();
      return link::Descriptor(-1);
    }
    if (events_.begun) {
      if (const int error = events_.begun(indices_[slot]); error != 0) {
        problem(BagProblem::Kind::store, std::string(".kbc-progress"), error_text(error));
        give_up();
        return link::Descriptor(-1);
      }
    }
    // A copy an earlier run began is this one's to write again.
    if (::unlink(stored.c_str()) != 0 && errno != ENOENT) {
      problem(BagProblem::Kind::store, recorded.path, error_text(errno));
      give_up();
      return link::Descriptor(-1);
    }
    link::Descriptor out(
        ::open(stored.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, kSealedFile));
    if (out.get() < 0 || ::fchmod(out.get(), kSealedFile) != 0) {
      problem(BagProblem::Kind::store, recorded.path, error_text(errno));
      give_up();
      return link::Descriptor(-1);
    }
    changed_(stored.parent_path());
    return out;
  }

  void finish_file(const Piece& end, const RecordedFile& recorded, const fs::path& stored,
                   link::Descriptor out) {
    if (end.failure) {
      problem(BagProblem::Kind::recorder, recorded.path, end.failure->what);
      ::unlink(stored.c_str());
      if (end.failure->gone || ++failures_in_a_row_ >= kFailuresInARow) {
        outcome_.disk_gone = true;
        give_up();
      }
      return;
    }
    if (end.copied != recorded.size) {
      // Stopped between two reads.
      ::unlink(stored.c_str());
      if (!given_up_) {
        outcome_.cancelled = true;
      }
      return;
    }
    failures_in_a_row_ = 0;
    if (::fsync(out.get()) != 0) {
      problem(BagProblem::Kind::store, recorded.path, error_text(errno));
      give_up();
      return;
    }
    // The recorder's times go along, as far as the store keeps them.
    const timespec times[2] = {{recorded.accessed > 0 ? recorded.accessed : recorded.modified, 0},
                               {recorded.modified, 0}};
    if (recorded.modified > 0) {
      ::futimens(out.get(), times);
    }
    // Written back by now: the read-back reads the disk, not the cache.
    drop_cached(out.get());
    if (events_.stored) {
      if (const int error = events_.stored(indices_[end.slot], end.sha256); error != 0) {
        problem(BagProblem::Kind::store, std::string(".kbc-progress"), error_text(error));
        give_up();
      }
    }
    written_.push({end.slot, stored, end.sha256, recorded.size});
  }

  // The read-back's thread: each file written read again from the disk and hashed.
  void read_back_all() {
    std::vector<std::byte> buffer(kChunkBytes);
    while (std::optional<Written> written = written_.pop()) {
      if (stop_.stop_requested()) {
        continue;
      }
      const std::string& path = file(written->slot).path;
      const Hashed hashed = hash_file(written->path, io_, buffer);
      if (hashed.error != 0) {
        problem(BagProblem::Kind::store, path, error_text(hashed.error));
      } else if (hashed.bytes != written->size || hashed.sha256 != written->sha256) {
        problem(BagProblem::Kind::differs, path, {});
      } else {
        outcome_.stored[written->slot] = {hashed.sha256, hashed.device, hashed.inode};
        const std::lock_guard lock(problems_);
        ++outcome_.files;
        outcome_.bytes += hashed.bytes;
      }
    }
  }

  RecorderFiles& files_;
  std::span<const std::size_t> indices_;
  const fs::path& data_;
  const Store& store_;
  StoreIo& io_;
  std::stop_token stop_;
  const CopyEvents& events_;
  const std::function<void(const fs::path&)>& changed_;
  Channel<Piece> pieces_;
  Channel<Written> written_;
  Buffers buffers_;
  std::atomic<bool> given_up_{false};
  std::mutex problems_;
  CopyOutcome outcome_;
  std::uint64_t written_bytes_ = 0;
  int failures_in_a_row_ = 0;
};

}  // namespace

CopyOutcome copy_files(RecorderFiles& files, std::span<const std::size_t> indices,
                       const fs::path& data, const Store& store, StoreIo& io, std::stop_token stop,
                       const CopyEvents& events,
                       const std::function<void(const fs::path&)>& changed) {
  return Copy(files, indices, data, store, io, std::move(stop), events, changed).run();
}

}  // namespace kbc::evidence
