// The terminal's character set both ways, for GBK and UTF-8 terminals: what comes in is valid
// UTF-8 or refused, and anything goes out without a fault.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "cli/charset.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (const kbc::cli::Charset& charset :
       {kbc::cli::Charset("GBK"), kbc::cli::Charset("GB18030"), kbc::cli::Charset::utf8()}) {
    if (const auto utf8 = charset.to_utf8(bytes)) {
      kbc::fuzz::check(kbc::console::is_valid_utf8(*utf8));
    }
    charset.from_utf8(bytes);
  }
  return 0;
}
