#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>

#include "console/identity.h"
#include "console/messages.h"
#include "console_fixture.h"
#include "link/identity.h"

namespace kbc::console::testing {
namespace {

struct FieldButton {
  int id;
  int text_field;
  std::size_t offset;  // in the record
  std::size_t width;
  std::string_view text;  // a new text that fits
  std::string_view empty, too_long, done;
};

const FieldButton kFieldButtons[] = {
    {1107, 1105, 13, 32, "李四", "用户名称设置为空!", "用户名称设置长度太长!", "设置用户名称成功"},
    {1109, 1108, 7, 6, "A7", "用户编号设置为空!", "用户编号设置长度太长!", "设置用户编号成功"},
    {1111, 1110, 57, 32, "公安", "单位名称设置为空!", "单位名称设置长度太长!", "设置单位名称成功"},
    {1112, 1113, 45, 12, "12ab", "单位编号设置为空!", "单位编号设置长度太长!", "设置单位编号成功"},
};

// A record as a recorder may hold it: every field with text, and zero bytes here and there.
std::string odd_record() {
  using namespace std::string_literals;
  return "SN12345"s + "U0\0\0=9"s + "Name"s + std::string(28, '\0') + "UNIT000=====" + "Unit"s +
         std::string(27, '=') + '\0';
}

// Half as many two-byte characters as the field is wide, and one byte more.
std::string one_gbk_byte_too_many(std::size_t width) {
  std::string text;
  for (std::size_t i = 0; i < width / 2; ++i) {
    text += "张";
  }
  return text + "x";
}

class IdentityTest : public ConsoleTest {
 protected:
  std::string record() {
    const auto& bytes = recorder.state().identity.bytes();
    return std::string(bytes.begin(), bytes.end());
  }
  void store(const std::string& bytes) {
    std::array<std::uint8_t, link::kIdentitySize> raw{};
    std::copy_n(bytes.begin(), raw.size(), raw.begin());
    recorder.state().identity = link::IdentityRecord::from_bytes(raw);
  }
  // The argument text a command went out with (payload bytes after the letter, up to a zero).
  std::string argument_of(char letter, int nth = 1) const {
    for (const auto& payload : recorder.payloads()) {
      if (payload.at(0) == letter && --nth == 0) {
        const auto end = std::find(payload.begin() + 1, payload.end(), 0);
        return std::string(payload.begin() + 1, end);
      }
    }
    return "<none>";
  }
  int sessions() const {
    return static_cast<int>(std::count_if(
        bus.wire().begin(), bus.wire().end(),
        [](const sim::WireEvent& e) { return e.kind == sim::WireEvent::Kind::init; }));
  }
};

TEST_F(IdentityTest, EachEditKeepsEveryOtherByteAndWritesZeroBytesAsFill) {
  ASSERT_EQ(odd_record().size(), link::kIdentitySize);
  for (const FieldButton& button : kFieldButtons) {
    SCOPED_TRACE(button.id);
    store(odd_record());
    view.fields[button.text_field] = button.text;
    EXPECT_TRUE(press(button.id, kAdmin));
    EXPECT_EQ(view.lines.at(0), button.done);

    std::string expected = odd_record();
    std::replace(expected.begin(), expected.end(), '\0', '=');
    const std::string text = gbk(button.text);
    expected.replace(button.offset, button.width,
                     text + std::string(button.width - text.size(), '='));
    EXPECT_EQ(record(), expected);
    // The read goes out with the new text, in the same session as the write.
    EXPECT_EQ(argument_of('}'), text);
    EXPECT_EQ(recorder.letters().substr(0, 3), "3}{");
  }
}

TEST_F(IdentityTest, ShortUserNumberLeavesNothingOfTheOldOne) {
  view.fields[idc::user_number_field] = "AB";
  EXPECT_TRUE(press(idc::user_number, kAdmin));
  EXPECT_EQ(record().substr(7, 6), "AB====");
}

TEST_F(IdentityTest, UnitNameOfExactly32BytesFillsItsField) {
  const std::string name = "一二三四五六七八九十一二三四五六";  // 16 characters, 32 GBK bytes
  view.fields[idc::unit_name_field] = name;
  EXPECT_TRUE(press(idc::unit_name, kAdmin));
  EXPECT_EQ(record().substr(57, 32), gbk(name));
  EXPECT_EQ(view.lines, Lines{"设置单位名称成功"});
}

TEST_F(IdentityTest, EmptyTooLongOrUnencodableTextStopsAfterTheGate) {
  for (const FieldButton& button : kFieldButtons) {
    SCOPED_TRACE(button.id);
    const std::string before = record();
    const std::pair<std::string, std::string_view> rows[] = {
        {"", button.empty},
        {std::string(button.width + 1, '7'), button.too_long},
        {one_gbk_byte_too_many(button.width), button.too_long},
        // The views refuse it as it is typed; the field could not hold it either.
        {"1🙂", button.too_long},
    };
    for (const auto& [text, report] : rows) {
      view.fields[button.text_field] = text;
      EXPECT_FALSE(press(button.id, kAdmin));
      EXPECT_EQ(view.lines, Lines{std::string(report)});
      // No record read, and so no identifier refresh either.
      EXPECT_EQ(recorder.letters(), "3");
      EXPECT_EQ(record(), before);
    }
  }
}

TEST_F(IdentityTest, WrongPasswordWritesNothingAndRefreshesNothing) {
  for (const FieldButton& button : kFieldButtons) {
    SCOPED_TRACE(button.id);
    const std::string before = record();
    view.fields[button.text_field] = button.text;
    for (std::string_view password : {std::string_view(""), std::string_view("12345")}) {
      EXPECT_FALSE(press(button.id, password));
      EXPECT_EQ(view.lines, Lines{"密码错误!"});
      EXPECT_TRUE(bus.wire().empty());
    }
    // The normal password does not pass the administrator gate.
    for (std::string_view password : {kWrong, kNormal}) {
      EXPECT_FALSE(press(button.id, password));
      EXPECT_EQ(view.lines, Lines{"密码错误!"});
      EXPECT_EQ(recorder.letters(), "3");
    }
    EXPECT_EQ(record(), before);
    EXPECT_TRUE(view.messages.empty());
  }
}

struct TransferRow {
  int transfer;  // the control transfer at which the recorder is pulled out
  std::string_view report;
  bool written;
};

TEST_F(IdentityTest, RecorderLostAtEachTransferOfAnEdit) {
  const TransferRow rows[] = {
      {1, "密码错误!", false}, {2, "密码错误!", false},  // check_admin_psw
      {3, "重新连接!", false}, {4, "重新连接!", false},  // get_device_info
      {5, "重新连接!", false}, {6, "重新连接!", true},   // set_identity, its reply lost
  };
  for (const TransferRow& row : rows) {
    SCOPED_TRACE(row.transfer);
    recorder.reconnect();
    store(odd_record());
    view.fields[idc::unit_name_field] = "公安";
    recorder.unplug_at_transfer(row.transfer);
    EXPECT_FALSE(press(idc::unit_name, kAdmin));
    EXPECT_EQ(view.lines, Lines{std::string(row.report)});
    EXPECT_EQ(record() != odd_record(), row.written);
    EXPECT_EQ(bus.open_handles(), 0);
  }
}

TEST_F(IdentityTest, NewUserNumberRefreshesTheOfficerIdentifier) {
  view.fields[idc::user_number_field] = "A7";
  EXPECT_TRUE(press(idc::user_number, kAdmin));
  EXPECT_EQ(recorder.letters(), "3}{J}F");
  EXPECT_EQ(sessions(), 3);
  EXPECT_EQ(recorder.state().officer_identifier, "KBC0001-A7");
  // The refresh reads the record with the password, and reports nothing.
  EXPECT_EQ(argument_of('}', 2), kAdmin);
  EXPECT_EQ(view.lines, Lines{"设置用户编号成功"});
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(IdentityTest, IdentifierTakesNineBytesOfTheSerialAndAShortOne) {
  const std::pair<std::string, std::string> rows[] = {
      {"ABCDEFGHIJ", "ABCDEFGHI-A7"},
      {"SN1", "SN1-A7"},
  };
  for (const auto& [sn, identifier] : rows) {
    recorder.state().sn_text = sn;
    view.fields[idc::user_number_field] = "A7";
    EXPECT_TRUE(press(idc::user_number, kAdmin));
    EXPECT_EQ(recorder.state().officer_identifier, identifier);
  }
}

TEST_F(IdentityTest, SerialNumberIsAskedOnceMoreInANewSession) {
  recorder.inject({.kind = sim::Fault::Kind::outcome, .letter = 'J', .value = 0});
  view.fields[idc::user_number_field] = "654321";
  EXPECT_TRUE(press(idc::user_number, kAdmin));
  EXPECT_EQ(recorder.letters(), "3}{JJ}F");
  EXPECT_EQ(sessions(), 4);
  EXPECT_EQ(recorder.state().officer_identifier, "KBC0001-654321");
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(IdentityTest, SerialNumberFailingTwiceIsAMessageBox) {
  recorder.inject({.kind = sim::Fault::Kind::outcome, .letter = 'J', .value = 0});
  recorder.inject({.kind = sim::Fault::Kind::reply_code, .letter = 'J', .occurrence = 2});
  view.fields[idc::user_number_field] = "A7";
  EXPECT_TRUE(press(idc::user_number, kAdmin));
  EXPECT_EQ(recorder.letters(), "3}{JJ");
  EXPECT_EQ(view.messages, Lines{"重新连接!"});
  EXPECT_EQ(view.lines, Lines{"设置用户编号成功"});
  EXPECT_EQ(recorder.state().officer_identifier, "");
}

TEST_F(IdentityTest, RecorderGoneForTheRefreshIsAMessageBox) {
  // Pulled out at get_sn: the second try finds no recorder.
  view.fields[idc::user_number_field] = "A7";
  recorder.unplug_at_transfer(7);
  EXPECT_TRUE(press(idc::user_number, kAdmin));
  EXPECT_EQ(recorder.letters(), "3}{J");
  EXPECT_EQ(sessions(), 3);
  EXPECT_EQ(view.messages, Lines{"重新连接!"});

  // Pulled out at the record write: the refresh runs all the same, finds no recorder and does
  // not try again.
  view.messages.clear();
  recorder.reconnect();
  recorder.unplug_at_transfer(6);
  EXPECT_FALSE(press(idc::user_number, kAdmin));
  EXPECT_EQ(view.lines, Lines{"重新连接!"});
  EXPECT_EQ(sessions(), 2);
  EXPECT_EQ(view.messages, Lines{"重新连接!"});
}

TEST_F(IdentityTest, RefreshWithoutItsRecordReadSetsNoIdentifier) {
  recorder.inject({.kind = sim::Fault::Kind::outcome, .letter = '}', .occurrence = 2});
  view.fields[idc::user_number_field] = "A7";
  EXPECT_TRUE(press(idc::user_number, kAdmin));
  EXPECT_EQ(recorder.letters(), "3}{J}");
  EXPECT_EQ(recorder.state().officer_identifier, "");
  EXPECT_EQ(view.lines, Lines{"设置用户编号成功"});
}

TEST_F(IdentityTest, FailedWriteStillRefreshesFromTheRecordersUserNumber) {
  recorder.inject(
      {.kind = sim::Fault::Kind::error, .stage = sim::Fault::Stage::out, .letter = '{'});
  view.fields[idc::user_number_field] = "A7";
  EXPECT_FALSE(press(idc::user_number, kAdmin));
  EXPECT_EQ(view.lines, Lines{"重新连接!"});
  EXPECT_EQ(recorder.letters(), "3}{J}F");
  EXPECT_EQ(recorder.state().officer_identifier, "KBC0001-000001");
}

TEST_F(IdentityTest, DeviceInfoShowsFiveLinesWithEitherPassword) {
  view.fields[idc::user_name_field] = "查询";
  for (std::string_view password : {kNormal, kAdmin}) {
    EXPECT_TRUE(press(idc::device_info, password));
    EXPECT_EQ(recorder.letters(), "-3}");
    EXPECT_EQ(argument_of('}'), gbk("查询"));
    EXPECT_EQ(view.lines, (Lines{"设备序列号:KBC0001", "用户编号:000001", "用户名称:张三",
                                 "单位编号:440300000000", "单位名称:深圳市公安局"}));
  }
  EXPECT_EQ(view.fields[idc::user_name_field], "查询");
}

TEST_F(IdentityTest, DeviceInfoEndsEachFieldAtFillOrZeroAndDecodesBadBytes) {
  std::string bytes = odd_record();
  bytes.replace(13, 4, "\x81\x20xy");  // a lead byte without its trail
  bytes.replace(57, 32, std::string(32, '='));
  store(bytes);
  EXPECT_TRUE(press(idc::device_info, kAdmin));
  EXPECT_EQ(view.lines, (Lines{"设备序列号:SN12345", "用户编号:U0", "用户名称:\xEF\xBF\xBD xy",
                               "单位编号:UNIT000", "单位名称:"}));
}

TEST_F(IdentityTest, NameTypedWithFillInsideShowsOnlyUpToIt) {
  view.fields[idc::user_name_field] = "张=三";
  EXPECT_TRUE(press(idc::user_name, kAdmin));
  EXPECT_EQ(record().substr(13, 5), gbk("张=三"));
  EXPECT_TRUE(press(idc::device_info, kAdmin));
  EXPECT_EQ(view.lines.at(2), "用户名称:张");
}

TEST_F(IdentityTest, DeviceInfoHandsTheRecordToItsCaller) {
  store(odd_record());
  view.fields[idc::password] = kNormal;
  const std::optional<link::IdentityRecord> shown = console.show_device_info();
  ASSERT_TRUE(shown);
  EXPECT_EQ(shown->bytes(), recorder.state().identity.bytes());

  recorder.inject({.kind = sim::Fault::Kind::short_transfer, .letter = '}', .length = 127});
  EXPECT_FALSE(console.show_device_info());
}

TEST_F(IdentityTest, DeviceInfoFailures) {
  const TransferRow rows[] = {
      {0, "密码错误!", false},  // a wrong password
      {1, "密码错误!", false}, {4, "密码错误!", false},
      {5, "重新连接!", false}, {6, "重新连接!", false},
  };
  for (const TransferRow& row : rows) {
    SCOPED_TRACE(row.transfer);
    recorder.reconnect();
    if (row.transfer > 0) {
      recorder.unplug_at_transfer(row.transfer);
    }
    EXPECT_FALSE(press(idc::device_info, row.transfer > 0 ? kAdmin : kWrong));
    EXPECT_EQ(view.lines, Lines{std::string(row.report)});
    EXPECT_EQ(bus.open_handles(), 0);
  }
  EXPECT_FALSE(press(idc::device_info, "1234567"));
  EXPECT_EQ(view.lines, Lines{"密码错误!"});
  EXPECT_TRUE(bus.wire().empty());
}

TEST_F(IdentityTest, NumberFieldsTakeOnlyAsciiLettersAndDigits) {
  const std::pair<std::string_view, bool> rows[] = {
      {"Ab09", true}, {"", true}, {"A-1", false}, {"12 3", false}, {"编号", false}, {"1１", false},
  };
  for (int field : {idc::user_number_field, idc::unit_number_field}) {
    for (const auto& [text, kept] : rows) {
      SCOPED_TRACE(std::string(text));
      view.messages.clear();
      view.fields[field] = text;
      console.on_field_changed(field);
      EXPECT_EQ(view.fields[field], kept ? text : "");
      EXPECT_EQ(view.messages, kept ? Lines{} : Lines{"仅支持数字或大小写字母!"});
    }
  }
  // The name fields take any text.
  view.messages.clear();
  view.fields[idc::user_name_field] = "张 三-";
  console.on_field_changed(idc::user_name_field);
  EXPECT_EQ(view.fields[idc::user_name_field], "张 三-");
  EXPECT_EQ(view.messages, Lines{});
}

}  // namespace
}  // namespace kbc::console::testing
