// The store as the erase question asks it: the newest verified offload of a serial number, and
// whether the agency's object store holds it too.
#pragma once

#include <optional>
#include <string_view>

#include "console/erase_guard.h"
#include "evidence/store.h"

namespace kbc::offload {

class StoreLedger final : public console::OffloadLedger {
 public:
  explicit StoreLedger(evidence::Store store) : store_(std::move(store)) {}
  std::optional<console::OffloadFact> newest_verified(std::string_view serial) override;

 private:
  evidence::Store store_;
};

}  // namespace kbc::offload
