#include "conversion.h"

#include <iconv.h>

namespace kbc::link {
namespace {

// No character set iconv offers here takes more than four bytes for one input byte.
constexpr std::size_t kMostBytesPerByte = 4;

}  // namespace

void Conversion::Closer::operator()(void* cd) const {
  iconv_close(static_cast<iconv_t>(cd));
}

std::optional<Conversion> Conversion::open(const char* to, const char* from) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    return std::nullopt;
  }
  return Conversion(cd);
}

Conversion::Result Conversion::run(std::string_view input) const {
  const auto cd = static_cast<iconv_t>(cd_.get());
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  Result result{std::string(input.size() * kMostBytesPerByte + 8, '\0'), 0, false};
  char* in = const_cast<char*>(input.data());
  std::size_t in_left = input.size();
  char* out = result.text.data();
  std::size_t out_left = result.text.size();
  const std::size_t rc = iconv(cd, &in, &in_left, &out, &out_left);
  result.text.resize(result.text.size() - out_left);
  result.converted = input.size() - in_left;
  result.complete = rc != static_cast<std::size_t>(-1) && in_left == 0;
  return result;
}

}  // namespace kbc::link
