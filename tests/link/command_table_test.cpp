#include "link/command_table.h"

#include <gtest/gtest.h>

#include <set>

namespace kbc::link {
namespace {

// The recorder's numbering, transcribed once more by hand: a typo in either copy shows here.
TEST(CommandTable, LettersAndReplyCodesInTableOrder) {
  const std::string letters = "-3E62N4_{}JFTWHSMKqrsxYfR[n=%.A<?ut]0,";
  const std::vector<int> codes = {1,  79, 67, 4,  -1, 21, 2,  80, 83, 84, 16, 13, 27,
                                  30, 14, 26, 19, 17, 53, 54, 55, 60, 32, 43, 24, 25,
                                  51, 72, 73, 74, 75, 76, 78, 57, 56, 61, 81, 82};
  ASSERT_EQ(letters.size(), kCommandCount);
  for (std::size_t i = 0; i < kCommandCount; ++i) {
    SCOPED_TRACE(kCommands[i].name);
    EXPECT_EQ(kCommands[i].letter, letters[i]);
    EXPECT_EQ(kCommands[i].reply_code ? *kCommands[i].reply_code : -1, codes[i]);
    EXPECT_EQ(spec_for_letter(letters[i]), &kCommands[i]);
  }
  EXPECT_EQ(spec_for_letter('Z'), nullptr);
}

TEST(CommandTable, LengthsFollowTheirCommand) {
  for (const CommandSpec& c : kCommands) {
    SCOPED_TRACE(c.name);
    const int payload = c.cmd == Cmd::set_identity ? 128 : c.cmd == Cmd::set_officer_info ? 32 : 18;
    EXPECT_EQ(c.payload_length, payload);
    EXPECT_EQ(c.reply_length, c.cmd == Cmd::get_device_info ? 128 : 12);
  }
}

TEST(CommandTable, StatusesAreTheCommandsOwn) {
  std::set<Status> seen;
  for (const CommandSpec& c : kCommands) {
    SCOPED_TRACE(c.name);
    EXPECT_NE(c.statuses.ok, c.statuses.fail);
    if (c.cmd == Cmd::check_admin_psw || c.cmd == Cmd::set_admin_psw || c.cmd == Cmd::switch_msdc) {
      continue;  // the two administrator commands share 246 / 247; msdc has no status values
    }
    EXPECT_TRUE(seen.insert(c.statuses.ok).second);
    EXPECT_TRUE(seen.insert(c.statuses.fail).second);
  }
  EXPECT_EQ(spec(Cmd::check_admin_psw).statuses.ok, 246);
  EXPECT_EQ(spec(Cmd::set_admin_psw).statuses.ok, 246);
  EXPECT_EQ(spec(Cmd::set_normal_psw).statuses.fail, 17);
  EXPECT_EQ(spec(Cmd::set_motion_on).refused, Status{249});
  EXPECT_EQ(spec(Cmd::set_voice_prompt).off_statuses->ok, 269);
}

}  // namespace
}  // namespace kbc::link
