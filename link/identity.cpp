#include "identity.h"

#include <algorithm>

namespace kbc::link {

FieldLayout layout(IdentityField field) {
  switch (field) {
    case IdentityField::serial_number:
      return {0, 7};
    case IdentityField::user_number:
      return {7, 6};
    case IdentityField::user_name:
      return {13, 32};
    case IdentityField::unit_number:
      return {45, 12};
    case IdentityField::unit_name:
      break;
  }
  return {57, 32};
}

IdentityRecord::IdentityRecord() {
  bytes_.fill(kFill);
}

IdentityRecord IdentityRecord::from_bytes(std::span<const std::uint8_t, kIdentitySize> bytes) {
  IdentityRecord record;
  std::copy(bytes.begin(), bytes.end(), record.bytes_.begin());
  return record;
}

IdentityRecord IdentityRecord::from_reply(std::span<const std::uint8_t> reply) {
  IdentityRecord record;
  if (reply.size() > 2) {
    const std::size_t n = std::min(reply.size() - 2, kIdentitySize);
    std::copy_n(reply.begin() + 2, n, record.bytes_.begin());
  }
  return record;
}

GbkText IdentityRecord::field(IdentityField f) const {
  const FieldLayout l = layout(f);
  const auto first = bytes_.begin() + static_cast<std::ptrdiff_t>(l.offset);
  const auto last = first + static_cast<std::ptrdiff_t>(l.width);
  const auto end = std::find_if(first, last, [](std::uint8_t b) { return b == kFill || b == 0; });
  return GbkText::from_bytes(std::span(&*first, static_cast<std::size_t>(end - first)));
}

IdentityRecord IdentityRecord::with_field(IdentityField f, const GbkText& text) const {
  IdentityRecord record = *this;
  const FieldLayout l = layout(f);
  const auto first = record.bytes_.begin() + static_cast<std::ptrdiff_t>(l.offset);
  std::fill_n(first, l.width, kFill);
  const auto source = text.span();
  std::copy_n(source.begin(), std::min(source.size(), l.width), first);
  std::replace(record.bytes_.begin(), record.bytes_.end(), std::uint8_t{0}, kFill);
  return record;
}

}  // namespace kbc::link
