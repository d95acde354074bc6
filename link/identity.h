// The recorder's 89-byte identity record: five fixed-width GBK fields, "=" where no text stands.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "gbk.h"

namespace kbc::link {

enum class IdentityField { serial_number, user_number, user_name, unit_number, unit_name };

struct FieldLayout {
  std::size_t offset;
  std::size_t width;
};

inline constexpr std::size_t kIdentitySize = 89;
inline constexpr std::uint8_t kFill = '=';

FieldLayout layout(IdentityField field);

class IdentityRecord {
 public:
  IdentityRecord();  // all fill
  static IdentityRecord from_bytes(std::span<const std::uint8_t, kIdentitySize> bytes);
  // Record bytes 2 to 90 of a get_device_info reply; a shorter reply leaves the rest as fill.
  static IdentityRecord from_reply(std::span<const std::uint8_t> reply);

  // The field's text: up to its first fill character or zero byte, never past its width.
  GbkText field(IdentityField field) const;

  // A copy with the field set to `text` then fill to its width (cut at the width), and every
  // zero byte of the record turned into fill.
  IdentityRecord with_field(IdentityField field, const GbkText& text) const;

  const std::array<std::uint8_t, kIdentitySize>& bytes() const { return bytes_; }

 private:
  std::array<std::uint8_t, kIdentitySize> bytes_;
};

}  // namespace kbc::link
