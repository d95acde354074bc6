// GBK both ways: anything the recorder sends decodes to valid UTF-8; any text that encodes comes
// back from GBK exactly as it went.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"
#include "link/gbk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using kbc::link::GbkText;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  kbc::fuzz::check(kbc::console::is_valid_utf8(GbkText::from_bytes(bytes).to_utf8()));
  if (const auto text = GbkText::from_utf8(bytes)) {
    kbc::fuzz::check(text->to_utf8() == bytes);
    kbc::fuzz::check(text->size() <= size);
  }
  return 0;
}
