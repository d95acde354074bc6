#include "recorder_state.h"

#include <cstdio>
#include <string_view>

#include "link/gbk.h"

namespace kbc::sim {
namespace {

using link::IdentityField;

link::GbkText gbk(std::string_view utf8) {
  // The defaults are fixed texts that GBK can hold; failing here is a broken converter.
  return link::GbkText::from_utf8(utf8).value();
}

}  // namespace

RecorderState::RecorderState()
    : identity(link::IdentityRecord()
                   .with_field(IdentityField::serial_number, gbk("KBC0001"))
                   .with_field(IdentityField::user_number, gbk("000001"))
                   .with_field(IdentityField::user_name, gbk("张三"))
                   .with_field(IdentityField::unit_number, gbk("440300000000"))
                   .with_field(IdentityField::unit_name, gbk("深圳市公安局"))) {}

void RecorderState::set_serial(std::string_view text) {
  sn_text = text;
  identity = identity.with_field(
      IdentityField::serial_number,
      link::GbkText::from_bytes(text.substr(0, link::layout(IdentityField::serial_number).width)));
}

std::string simulated_serial(std::size_t n) {
  char text[16];
  std::snprintf(text, sizeof text, "KBC%04zu", n % 10000);
  return text;
}

}  // namespace kbc::sim
