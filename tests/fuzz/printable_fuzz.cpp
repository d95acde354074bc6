// Any bytes at all come out as one line of plain text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "console/printable.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kbc::fuzz::check_shown(
      kbc::console::printable(std::string_view(reinterpret_cast<const char*>(data), size)));
  return 0;
}
