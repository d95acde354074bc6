// The identity buttons: one field of the recorder's record changed by reading the whole record,
// replacing the field and writing it back in one session; the whole record shown; and the officer
// identifier refreshed after a new user number.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "console/handler.h"
#include "console/messages.h"
#include "link/gbk.h"
#include "link/identity.h"

namespace kbc::console {

// A button that changes one field of the record from the text field beside it.
struct IdentityButton {
  int button;
  int text_field;
  link::IdentityField field;
  std::size_t max_bytes;
  std::string_view empty;
  std::string_view too_long;
  std::string_view done;
};

// The row of this button; nullptr for any other id.
const IdentityButton* identity_button(int id);

// A field's new text, as its button would write it.
struct FieldText {
  const IdentityButton* button;
  link::GbkText text;
};

// One read-modify-write of the record in the call's session: get_device_info carrying the first
// field's text, as that field's button sends it, then set_identity with every field set and the
// rest as the recorder holds it. Then each field's button report in order: its success text, or
// "重新连接!" when the read or the write failed. True when the record was written.
bool write_identity(const Call& call, std::span<const FieldText> fields);

// True when every byte is an ASCII letter or digit (the empty text included).
bool letters_and_digits_only(std::string_view text);

// What set_officer_info carries: the get_sn text up to 9 bytes, "-", the record's user number.
link::GbkText officer_identifier(const link::GbkText& sn_text, const link::IdentityRecord& record);

// The five lines of "查看设备信息", each field up to its first fill or zero byte, in UTF-8, with
// what is no plain text escaped (printable()).
std::vector<std::string> device_info_lines(const link::IdentityRecord& record);

}  // namespace kbc::console
