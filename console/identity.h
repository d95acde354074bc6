// The identity buttons: one field of the recorder's record changed by reading the whole record,
// replacing the field and writing it back in one session; the whole record shown; and the officer
// identifier refreshed after a new user number.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "link/gbk.h"
#include "link/identity.h"

namespace kbc::console {

namespace msg {

inline constexpr std::string_view user_name_empty = "用户名称设置为空!";
inline constexpr std::string_view user_name_too_long = "用户名称设置长度太长!";
inline constexpr std::string_view user_name_unencodable = "用户名称设置含有不支持的字符!";
inline constexpr std::string_view user_name_done = "设置用户名称成功";
inline constexpr std::string_view user_number_empty = "用户编号设置为空!";
inline constexpr std::string_view user_number_too_long = "用户编号设置长度太长!";
inline constexpr std::string_view user_number_unencodable = "用户编号设置含有不支持的字符!";
inline constexpr std::string_view user_number_done = "设置用户编号成功";
inline constexpr std::string_view unit_name_empty = "单位名称设置为空!";
inline constexpr std::string_view unit_name_too_long = "单位名称设置长度太长!";
inline constexpr std::string_view unit_name_unencodable = "单位名称设置含有不支持的字符!";
inline constexpr std::string_view unit_name_done = "设置单位名称成功";
inline constexpr std::string_view unit_number_empty = "单位编号设置为空!";
inline constexpr std::string_view unit_number_too_long = "单位编号设置长度太长!";
inline constexpr std::string_view unit_number_unencodable = "单位编号设置含有不支持的字符!";
inline constexpr std::string_view unit_number_done = "设置单位编号成功";

// The record's lines, each followed by the field's text.
inline constexpr std::string_view info_serial_number = "设备序列号:";
inline constexpr std::string_view info_user_number = "用户编号:";
inline constexpr std::string_view info_user_name = "用户名称:";
inline constexpr std::string_view info_unit_number = "单位编号:";
inline constexpr std::string_view info_unit_name = "单位名称:";

inline constexpr std::string_view letters_and_digits_only = "仅支持数字或大小写字母!";

}  // namespace msg

// A button that changes one field of the record from the text field beside it.
struct IdentityButton {
  int button;
  int text_field;
  link::IdentityField field;
  std::size_t max_bytes;
  std::string_view empty;
  std::string_view too_long;
  std::string_view unencodable;  // a character GBK has no code for
  std::string_view done;
};

// The row of this button; nullptr for any other id.
const IdentityButton* identity_button(int id);

// True when every byte is an ASCII letter or digit (the empty text included).
bool letters_and_digits_only(std::string_view text);

// What set_officer_info carries: the get_sn text up to 9 bytes, "-", the record's user number.
link::GbkText officer_identifier(const link::GbkText& sn_text, const link::IdentityRecord& record);

// The five lines of "查看设备信息", each field up to its first fill or zero byte, in UTF-8.
std::vector<std::string> device_info_lines(const link::IdentityRecord& record);

}  // namespace kbc::console
