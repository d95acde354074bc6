#include "console/identity.h"

#include <algorithm>
#include <array>
#include <optional>

#include "console/console.h"
#include "console/control_ids.h"
#include "console/handler.h"
#include "console/messages.h"
#include "console/printable.h"
#include "link/command_table.h"
#include "link/commands.h"

namespace kbc::console {
namespace {

using link::IdentityField;

constexpr std::size_t kSnPart = 9;

const std::array<IdentityButton, 4> kIdentityButtons{{
    {idc::user_name, idc::user_name_field, IdentityField::user_name, 32, msg::user_name_empty,
     msg::user_name_too_long, msg::user_name_done},
    {idc::user_number, idc::user_number_field, IdentityField::user_number, 6,
     msg::user_number_empty, msg::user_number_too_long, msg::user_number_done},
    {idc::unit_name, idc::unit_name_field, IdentityField::unit_name, 32, msg::unit_name_empty,
     msg::unit_name_too_long, msg::unit_name_done},
    {idc::unit_number, idc::unit_number_field, IdentityField::unit_number, 12,
     msg::unit_number_empty, msg::unit_number_too_long, msg::unit_number_done},
}};

bool ok(link::Cmd cmd, link::Status status) {
  return status == link::spec(cmd).statuses.ok;
}

}  // namespace

const IdentityButton* identity_button(int id) {
  const auto row = std::find_if(kIdentityButtons.begin(), kIdentityButtons.end(),
                                [id](const IdentityButton& b) { return b.button == id; });
  return row == kIdentityButtons.end() ? nullptr : &*row;
}

bool letters_and_digits_only(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  });
}

link::GbkText officer_identifier(const link::GbkText& sn_text, const link::IdentityRecord& record) {
  std::string text = sn_text.bytes().substr(0, kSnPart);
  text += '-';
  text += record.field(IdentityField::user_number).bytes();
  return link::GbkText::from_bytes(text);
}

std::vector<std::string> device_info_lines(const link::IdentityRecord& record) {
  const std::pair<std::string_view, IdentityField> lines[] = {
      {msg::info_serial_number, IdentityField::serial_number},
      {msg::info_user_number, IdentityField::user_number},
      {msg::info_user_name, IdentityField::user_name},
      {msg::info_unit_number, IdentityField::unit_number},
      {msg::info_unit_name, IdentityField::unit_name},
  };
  std::vector<std::string> result;
  for (const auto& [label, field] : lines) {
    // The recorder's bytes are shown as text, never obeyed by the terminal or the pane.
    result.push_back(std::string(label) + printable(record.field(field).to_utf8()));
  }
  return result;
}

bool write_identity(const Call& call, std::span<const FieldText> fields) {
  const auto report_each = [&](auto report_of) {
    for (const FieldText& field : fields) {
      call.report(report_of(field));
    }
  };
  const auto reconnect = [](const FieldText&) { return msg::reconnect; };
  if (fields.empty()) {
    return true;
  }
  const link::DeviceInfo info = link::get_device_info(call.device, fields.front().text);
  if (!ok(link::Cmd::get_device_info, info.status)) {
    report_each(reconnect);
    return false;
  }
  // The other fields go back as the recorder holds them now.
  link::IdentityRecord record = info.record();
  for (const FieldText& field : fields) {
    record = record.with_field(field.button->field, field.text);
  }
  if (!ok(link::Cmd::set_identity, link::set_identity(call.device, record))) {
    report_each(reconnect);
    return false;
  }
  report_each([](const FieldText& field) { return field.button->done; });
  return true;
}

bool Console::set_identity_field(const IdentityButton& button) {
  // Only a text that got as far as the record read refreshes the officer identifier.
  bool read_record = false;
  const Sequence sequence{PreCheck::short_password, Gate::admin};
  const Outcome outcome = run(sequence, [&](Call& call) {
    const std::string typed = view_.field_text(button.text_field);
    note_value(typed);
    const std::optional<link::GbkText> text = link::GbkText::from_utf8(typed);
    if (text && text->empty()) {
      call.report(button.empty);
      return false;
    }
    // Both views refuse a character GBK lacks as it is typed; should one get here all the same,
    // the recorder's field cannot hold it.
    if (!text || text->size() > button.max_bytes) {
      call.report(button.too_long);
      return false;
    }

    read_record = true;
    const FieldText field{&button, *text};
    return write_identity(call, std::span(&field, 1));
  });

  if (button.field == IdentityField::user_number && read_record) {
    refresh_officer_identifier();
  }
  return succeeded(outcome);
}

void Console::refresh_officer_identifier() {
  // get_sn gets one more try, in a session of its own.
  std::optional<link::GbkText> sn_text;
  std::string_view failure = msg::reconnect;
  for (int attempt = 0; attempt < 2 && !sn_text; ++attempt) {
    link::Session session = link::Session::open(link_);
    if (!session.ready()) {
      failure = session_failure(session);
      break;
    }
    const link::SerialNumber sn = link::get_sn(session.device());
    if (ok(link::Cmd::get_sn, sn.status)) {
      sn_text = sn.text;
    }
  }
  if (!sn_text) {
    view_.show_message(failure);
    return;
  }

  run({PreCheck::short_password, Gate::none}, [&](Call& call) {
    const link::DeviceInfo info = link::get_device_info(call.device, call.password);
    if (!ok(link::Cmd::get_device_info, info.status)) {
      return false;
    }
    // Nothing is reported either way.
    return ok(link::Cmd::set_officer_info,
              link::set_officer_info(call.device, officer_identifier(*sn_text, info.record())));
  });
}

std::optional<link::IdentityRecord> Console::read_device_info() {
  std::optional<link::IdentityRecord> shown;
  run({PreCheck::short_password, Gate::either}, [&](Call& call) {
    // The recorder takes a text along with the read; the tool makes no use of it.
    const link::GbkText argument =
        link::GbkText::from_utf8(view_.field_text(idc::user_name_field)).value_or(link::GbkText{});
    const link::DeviceInfo info = link::get_device_info(call.device, argument);
    if (!ok(link::Cmd::get_device_info, info.status)) {
      call.report(msg::reconnect);
      return false;
    }
    shown = info.record();
    for (const std::string& line : device_info_lines(*shown)) {
      call.report(line);
    }
    return true;
  });
  return shown;
}

}  // namespace kbc::console
