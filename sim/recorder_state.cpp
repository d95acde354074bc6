#include "recorder_state.h"

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

}  // namespace kbc::sim
