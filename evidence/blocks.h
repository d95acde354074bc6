// The recorder's disk as the volume reader sees it: bytes at offsets, read and never written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <variant>

#include "link/descriptor.h"

namespace kbc::evidence {

class Blocks {
 public:
  virtual ~Blocks() = default;
  virtual std::uint64_t size() const = 0;
  // Up to bytes.size() bytes at `offset`: how many were read (0 past the end), or -errno.
  virtual std::int64_t read_at(std::uint64_t offset, std::span<std::byte> bytes) = 0;
};

// A block device or an image file, opened read-only. Nothing is ever written to it, and its
// access time is left alone where the file's owner reads it.
class FileBlocks final : public Blocks {
 public:
  // The blocks of the device or file at `path`, or why they cannot be read.
  static std::variant<std::unique_ptr<FileBlocks>, std::string> open(const std::string& path);
  // `size` bytes of an open descriptor, as open() found them.
  FileBlocks(link::Descriptor fd, std::uint64_t size) : fd_(std::move(fd)), size_(size) {}

  std::uint64_t size() const override { return size_; }
  std::int64_t read_at(std::uint64_t offset, std::span<std::byte> bytes) override;

 private:
  link::Descriptor fd_;
  std::uint64_t size_;
};

// Whether an error of a read means that the disk has left the computer: nothing more can be read.
bool disk_gone(int error);

}  // namespace kbc::evidence
