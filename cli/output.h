// Standard output as a stream that keeps the reason its first failed write had (a full disk, a
// closed pipe), so that kbcctl can say it and exit with a failure instead of losing its reports.
#pragma once

#include <array>
#include <ostream>
#include <streambuf>

namespace kbc::cli {

class FdOutput final : public std::streambuf {
 public:
  explicit FdOutput(int fd) : fd_(fd) { setp(buffer_.data(), buffer_.data() + buffer_.size()); }
  FdOutput(const FdOutput&) = delete;
  FdOutput& operator=(const FdOutput&) = delete;
  ~FdOutput() override { sync(); }

  // errno of the first write that failed; 0 while none did.
  int error() const { return error_; }

 protected:
  int_type overflow(int_type c) override;
  int sync() override;

 private:
  bool drain();

  int fd_;
  int error_ = 0;
  std::array<char, 4096> buffer_;
};

}  // namespace kbc::cli
