// The recorder needs a pause before every command and after each bus scan; tests inject their own
// pause so that they can assert the durations without sleeping.
#pragma once

#include <chrono>

namespace kbc::link {

inline constexpr std::chrono::milliseconds kPause{100};
inline constexpr int kTransferTimeoutMs = 1000;

class Pause {
 public:
  virtual ~Pause() = default;
  virtual void pause(std::chrono::milliseconds duration) = 0;
};

class RealPause final : public Pause {
 public:
  void pause(std::chrono::milliseconds duration) override;
};

}  // namespace kbc::link
