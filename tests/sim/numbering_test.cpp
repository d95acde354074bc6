#include "sim/numbering.h"

#include <gtest/gtest.h>

#include "link/command_table.h"

namespace kbc::sim {
namespace {

// The link's table and the recorder's own, row by row: a slip in either shows here as well as in
// every exchange that uses the row.
TEST(Numbering, TheFirmwareAndTheLinkAgreeRowByRow) {
  const auto firmware = firmware_commands();
  ASSERT_EQ(firmware.size(), link::kCommands.size());
  for (std::size_t i = 0; i < firmware.size(); ++i) {
    const link::CommandSpec& host = link::kCommands[i];
    const FirmwareCommand& device = firmware[i];
    SCOPED_TRACE(host.name);
    EXPECT_EQ(device.letter, host.letter);
    EXPECT_EQ(device.name, host.name);
    // The host does not read switch_msdc's code; the firmware answers 0 there.
    EXPECT_EQ(device.code, host.reply_code.value_or(0));
    EXPECT_EQ(device.payload_length, host.payload_length);
    EXPECT_EQ(device.reply_length, host.reply_length);
    EXPECT_EQ(firmware_command(host.letter), &device);
  }
}

TEST(Numbering, EveryLetterIsOneCommandOnly) {
  for (const FirmwareCommand& command : firmware_commands()) {
    SCOPED_TRACE(command.name);
    EXPECT_EQ(firmware_command(command.letter), &command);
  }
  EXPECT_EQ(firmware_command('Z'), nullptr);
  EXPECT_EQ(firmware_command('\0'), nullptr);
}

}  // namespace
}  // namespace kbc::sim
