// GBK (code page 936) is the recorder's text encoding and exists only here, at the wire: the rest
// of the program holds UTF-8 and hands it over as GbkText, whose size is what the recorder counts.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kbc::link {

// Wiped when it goes, as it may hold a password.
class GbkText {
 public:
  GbkText() = default;
  GbkText(const GbkText&) = default;
  GbkText(GbkText&&) noexcept = default;
  GbkText& operator=(const GbkText& other);
  GbkText& operator=(GbkText&& other) noexcept;
  ~GbkText();

  // UTF-8 to GBK; nullopt when a character has no GBK form, does not come back from GBK as it was
  // (iconv drops some), or the input is not valid UTF-8.
  static std::optional<GbkText> from_utf8(std::string_view utf8);
  // Raw GBK bytes as the recorder sent or stores them.
  static GbkText from_bytes(std::span<const std::uint8_t> bytes);
  static GbkText from_bytes(std::string_view bytes);

  // GBK to UTF-8; bytes that are not valid GBK become U+FFFD.
  std::string to_utf8() const;

  const std::string& bytes() const { return bytes_; }
  std::size_t size() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }
  std::span<const std::uint8_t> span() const {
    return {reinterpret_cast<const std::uint8_t*>(bytes_.data()), bytes_.size()};
  }

  friend bool operator==(const GbkText&, const GbkText&) = default;

 private:
  explicit GbkText(std::string&& bytes);
  std::string bytes_;
};

// Number of GBK bytes of a UTF-8 text, or nullopt when it cannot be encoded.
std::optional<std::size_t> gbk_size(std::string_view utf8);

}  // namespace kbc::link
