#include "sim/firmware.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <string_view>

#include "link/gbk.h"
#include "link/identity.h"
#include "sim/numbering.h"

namespace kbc::sim {

// Names the row in failure messages instead of dumping its bytes.
void PrintTo(const FirmwareCommand& command, std::ostream* out) {
  *out << command.name;
}

namespace {

using link::IdentityField;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kPayload = 18;

Bytes payload(char letter, std::string_view argument, std::size_t length = kPayload) {
  Bytes bytes(length, 0);
  bytes[0] = static_cast<std::uint8_t>(letter);
  std::copy_n(argument.begin(), std::min(argument.size(), length - 1), bytes.begin() + 1);
  return bytes;
}

// The commands the tests name, by their letter.
enum Cmd : char {
  check_normal_psw = '-',
  check_admin_psw = '3',
  set_time = '6',
  switch_msdc = '2',
  clear_all_files = 'N',
  set_normal_psw = '4',
  set_admin_psw = '_',
  set_identity = '{',
  get_device_info = '}',
  get_sn = 'J',
  set_officer_info = 'F',
  set_video_1080p30 = 'H',
  set_segment_off = 'Y',
  set_photo_20m = '[',
  set_brightness_mid = '%',
  set_screen_off_never = '?',
  set_ir_manual = 't',
  set_voice_prompt = ']',
  set_motion_on = '0',
  set_motion_off = ',',
};

std::string_view name_of(Cmd cmd) {
  return firmware_command(cmd)->name;
}

Bytes identity_payload(const link::IdentityRecord& record) {
  Bytes bytes(128, 0);
  bytes[0] = static_cast<std::uint8_t>(Cmd::set_identity);
  std::copy(record.bytes().begin(), record.bytes().end(), bytes.begin() + 1);
  return bytes;
}

Bytes run(Firmware& firmware, const Bytes& bytes) {
  auto reply = firmware.execute(bytes);
  EXPECT_TRUE(reply.has_value());
  return reply.value_or(Bytes{});
}

Bytes run(Firmware& firmware, Cmd cmd, std::string_view argument = {}) {
  return run(firmware, payload(cmd, argument));
}

std::uint8_t outcome(const Bytes& reply) {
  return reply.size() > 1 ? reply[1] : 0xFF;
}

std::string valid_argument(const FirmwareCommand& command, const RecorderState& state) {
  switch (command.action) {
    case Action::check_normal_password:
      return state.normal_password;
    case Action::check_admin_password:
    case Action::password_status:
    case Action::mass_storage:
    case Action::set_normal_password:
    case Action::set_admin_password:
      return state.admin_password;
    case Action::set_clock:
      return "20240305070809\n";
    case Action::write_identity:
      return std::string(state.identity.bytes().begin(), state.identity.bytes().end());
    case Action::read_identity:
      return "info";
    case Action::officer_identifier:
      return "A1234567";
    case Action::voice_prompt:
      return "1";
    default:
      return "";
  }
}

class EveryCommand : public testing::TestWithParam<FirmwareCommand> {};

TEST_P(EveryCommand, AnswersWithItsReplyCodeAndCarriesOut) {
  const FirmwareCommand& command = GetParam();
  Firmware firmware;
  const Bytes reply = run(
      firmware,
      payload(command.letter, valid_argument(command, firmware.state()), command.payload_length));
  ASSERT_EQ(reply.size(), command.reply_length);
  EXPECT_EQ(reply[0], command.code);
  EXPECT_EQ(outcome(reply), 1);
}

TEST_P(EveryCommand, APayloadOfAnotherLengthIsNotCarriedOut) {
  const FirmwareCommand& command = GetParam();
  for (const std::size_t length : {std::size_t{18}, std::size_t{32}, std::size_t{128}}) {
    if (length == command.payload_length) {
      continue;
    }
    Firmware firmware;
    const RecorderState before = firmware.state();
    const Bytes reply =
        run(firmware, payload(command.letter, valid_argument(command, before), length));
    ASSERT_EQ(reply.size(), command.reply_length) << length;
    EXPECT_EQ(reply[0], command.code) << length;
    EXPECT_EQ(outcome(reply), 0) << length;
    EXPECT_EQ(firmware.state().erase_count, 0);
    EXPECT_EQ(firmware.state().admin_password, before.admin_password);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, EveryCommand, testing::ValuesIn(firmware_commands()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Firmware, ALetterThatIsNoCommandGetsZeroCodeAndOutcome) {
  Firmware firmware;
  for (int letter = 0; letter < 256; ++letter) {
    if (firmware_command(static_cast<char>(letter)) != nullptr) {
      continue;
    }
    EXPECT_EQ(run(firmware, payload(static_cast<char>(letter), "888888")), Bytes(12, 0))
        << "letter " << letter;
  }
  EXPECT_EQ(run(firmware, Bytes{}), Bytes(12, 0));
}

struct PasswordCase {
  Cmd cmd;
  std::string argument;
  std::uint8_t outcome;
};

TEST(Firmware, PasswordChecksCompareByteForByte) {
  const PasswordCase cases[] = {
      {Cmd::check_normal_psw, "000000", 1},
      {Cmd::check_normal_psw, "888888", 0},
      {Cmd::check_normal_psw, "00000", 0},
      {Cmd::check_normal_psw, "0000000", 0},
      {Cmd::check_normal_psw, std::string("000000\0xy", 9), 1},  // the argument ends at zero
      {Cmd::check_admin_psw, "888888", 1},
      {Cmd::check_admin_psw, "000000", 0},
      {Cmd::check_admin_psw, "88888", 0},
      {Cmd::check_admin_psw, "", 0},
  };
  for (const auto& c : cases) {
    Firmware firmware;
    EXPECT_EQ(outcome(run(firmware, c.cmd, c.argument)), c.outcome)
        << name_of(c.cmd) << " \"" << c.argument << "\"";
  }
}

TEST(Firmware, NewPasswordsMustBeSixBytesAndThenCheckOut) {
  Firmware firmware;
  EXPECT_EQ(outcome(run(firmware, Cmd::set_admin_psw, "12345")), 0);
  EXPECT_EQ(outcome(run(firmware, Cmd::set_admin_psw, "1234567")), 0);
  EXPECT_EQ(firmware.state().admin_password, "888888");

  EXPECT_EQ(outcome(run(firmware, Cmd::set_admin_psw, "123456")), 1);
  EXPECT_EQ(outcome(run(firmware, Cmd::set_normal_psw, "\xC4\xE3\xBA\xC3xy")), 1);
  EXPECT_EQ(outcome(run(firmware, Cmd::check_admin_psw, "123456")), 1);
  EXPECT_EQ(outcome(run(firmware, Cmd::check_admin_psw, "888888")), 0);
  EXPECT_EQ(outcome(run(firmware, Cmd::check_normal_psw, "\xC4\xE3\xBA\xC3xy")), 1);
}

TEST(Firmware, SetTimeTakesOnlyAPlausibleFourteenDigitTime) {
  const std::pair<std::string, bool> cases[] = {
      {"20240305070809\n", true},  {"20240229235959\n", true},   {"20230229120000\n", false},
      {"20241305070809\n", false}, {"20240300070809\n", false},  {"20240305240809\n", false},
      {"20240305076009\n", false}, {"20240305070860\n", false},  {"20240305070809", false},
      {"2024030507080\n", false},  {"202403050708090\n", false}, {"2024030507080a\n", false},
  };
  for (const auto& [text, valid] : cases) {
    Firmware firmware;
    EXPECT_EQ(outcome(run(firmware, Cmd::set_time, text)), valid ? 1 : 0) << text;
    EXPECT_EQ(firmware.state().clock, valid ? text.substr(0, 14) : "") << text;
  }
}

TEST(Firmware, SettingsRememberTheCommandInTheirOwnGroupOnly) {
  using Field = std::string RecorderState::*;
  const Field fields[] = {&RecorderState::video,      &RecorderState::segment,
                          &RecorderState::photo,      &RecorderState::brightness,
                          &RecorderState::screen_off, &RecorderState::ir};
  const std::pair<Cmd, Field> cases[] = {
      {Cmd::set_video_1080p30, &RecorderState::video},
      {Cmd::set_segment_off, &RecorderState::segment},
      {Cmd::set_photo_20m, &RecorderState::photo},
      {Cmd::set_brightness_mid, &RecorderState::brightness},
      {Cmd::set_screen_off_never, &RecorderState::screen_off},
      {Cmd::set_ir_manual, &RecorderState::ir},
  };
  for (const auto& [cmd, target] : cases) {
    Firmware firmware;
    run(firmware, cmd);
    for (Field field : fields) {
      EXPECT_EQ(firmware.state().*field, field == target ? name_of(cmd) : "") << name_of(cmd);
    }
  }
}

TEST(Firmware, VoicePromptTakesOnlyOneOrZero) {
  const std::tuple<std::string, std::uint8_t, std::optional<bool>> cases[] = {
      {"1", 1, true},        {"0", 1, false},         {"2", 0, std::nullopt},
      {"", 0, std::nullopt}, {"10", 0, std::nullopt},
  };
  for (const auto& [argument, expected, voice] : cases) {
    Firmware firmware;
    EXPECT_EQ(outcome(run(firmware, Cmd::set_voice_prompt, argument)), expected) << argument;
    EXPECT_EQ(firmware.state().voice_prompt, voice) << argument;
  }
}

TEST(Firmware, MotionDetectionIsRefusedWhilePreRecording) {
  Firmware firmware;
  firmware.state().pre_recording = true;
  EXPECT_EQ(outcome(run(firmware, Cmd::set_motion_on)), 2);
  EXPECT_EQ(firmware.state().motion_detection, std::nullopt);

  firmware.state().pre_recording = false;
  EXPECT_EQ(outcome(run(firmware, Cmd::set_motion_on)), 1);
  EXPECT_EQ(firmware.state().motion_detection, true);
  EXPECT_EQ(outcome(run(firmware, Cmd::set_motion_off)), 1);
  EXPECT_EQ(firmware.state().motion_detection, false);
}

TEST(Firmware, MassStorageNeedsAPasswordAndThenAnswersNothing) {
  Firmware firmware;
  EXPECT_EQ(outcome(run(firmware, Cmd::switch_msdc, "123456")), 0);
  EXPECT_EQ(outcome(run(firmware, Cmd::check_admin_psw, "888888")), 1);

  EXPECT_TRUE(firmware.execute(payload('2', "000000")).has_value());
  EXPECT_TRUE(firmware.state().mass_storage);
  EXPECT_EQ(firmware.execute(payload('3', "888888")), std::nullopt);
  EXPECT_EQ(firmware.execute(payload('Z', "")), std::nullopt);
}

TEST(Firmware, IdentityWrittenIsReadBack) {
  Firmware firmware;
  const auto record =
      link::IdentityRecord()
          .with_field(IdentityField::serial_number, link::GbkText::from_bytes("KBC0002"))
          .with_field(IdentityField::user_name, link::GbkText::from_bytes("\xC0\xEE\xCB\xC4"))
          .with_field(IdentityField::unit_number, link::GbkText::from_bytes("123456789012"));
  EXPECT_EQ(outcome(run(firmware, identity_payload(record))), 1);

  const Bytes reply = run(firmware, Cmd::get_device_info, "free text");
  ASSERT_EQ(reply.size(), 128u);
  EXPECT_EQ(outcome(reply), 1);
  EXPECT_TRUE(std::equal(record.bytes().begin(), record.bytes().end(), reply.begin() + 2));
  EXPECT_TRUE(std::all_of(reply.begin() + 91, reply.end(), [](auto b) { return b == 0; }));
}

TEST(Firmware, IdentityCutShortIsNotTaken) {
  Firmware firmware;
  const auto before = firmware.state().identity.bytes();
  Bytes cut = identity_payload(link::IdentityRecord());
  cut.resize(kPayload);
  EXPECT_EQ(outcome(run(firmware, cut)), 0);
  EXPECT_EQ(firmware.state().identity.bytes(), before);
}

TEST(Firmware, DefaultIdentityIsGbkWithFill) {
  const RecorderState state;
  const auto field = [&](IdentityField f) { return state.identity.field(f).bytes(); };
  EXPECT_EQ(field(IdentityField::serial_number), "KBC0001");
  EXPECT_EQ(field(IdentityField::user_name), "\xD5\xC5\xC8\xFD");
  EXPECT_EQ(field(IdentityField::unit_name), "\xC9\xEE\xDB\xDA\xCA\xD0\xB9\xAB\xB0\xB2\xBE\xD6");
  EXPECT_EQ(state.identity.bytes().back(), link::kFill);
}

TEST(Firmware, SerialNumberFillsTenBytesAtMost) {
  const std::pair<std::string, std::string> cases[] = {
      {"KBC0001001", "KBC0001001"},
      {"SN1", std::string("SN1\0\0\0\0\0\0\0", 10)},
      {"KBC000100123", "KBC0001001"},
  };
  for (const auto& [sn, data] : cases) {
    Firmware firmware;
    firmware.state().sn_text = sn;
    const Bytes reply = run(firmware, Cmd::get_sn);
    ASSERT_EQ(reply.size(), 12u);
    EXPECT_EQ(std::string(reply.begin() + 2, reply.end()), data);
  }
}

TEST(Firmware, EraseAndOfficerInfoAreRemembered) {
  Firmware firmware;
  run(firmware, Cmd::clear_all_files);
  run(firmware, Cmd::clear_all_files);
  EXPECT_EQ(firmware.state().erase_count, 2);
  run(firmware, payload(Cmd::set_officer_info, "\xBE\xAF\x30\x31", 32));
  EXPECT_EQ(firmware.state().officer_identifier, "\xBE\xAF\x30\x31");
}

}  // namespace
}  // namespace kbc::sim
