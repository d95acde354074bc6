// One operation per recorder command, each on an open, prepared device.
#pragma once

#include <array>
#include <cstdint>

#include "command_table.h"
#include "gbk.h"
#include "identity.h"
#include "session.h"
#include "time_text.h"

namespace kbc::link {

// Runs a command that has no argument, or any row with a raw argument; the status of its reply.
Status run(Device& device, Cmd cmd, std::span<const std::uint8_t> argument = {});

Status check_normal_psw(Device& device, const GbkText& password);
Status check_admin_psw(Device& device, const GbkText& password);
Status read_psw_status(Device& device, const GbkText& password);
Status set_time(Device& device, const LocalTime& time);
// Only whether the command went out whole and a 12-byte reply came back; the reply is not judged.
bool switch_msdc(Device& device, const GbkText& password);
Status clear_all_files(Device& device);
Status set_normal_psw(Device& device, const GbkText& password);
Status set_admin_psw(Device& device, const GbkText& password);
Status set_identity(Device& device, const IdentityRecord& record);

struct DeviceInfo {
  Status status;
  std::array<std::uint8_t, 128> reply;  // the whole reply; bytes 2 to 90 are the identity record
  IdentityRecord record() const { return IdentityRecord::from_reply(reply); }
};
DeviceInfo get_device_info(Device& device, const GbkText& text);

struct SerialNumber {
  Status status;
  GbkText text;  // reply bytes 2 to 11 up to the first zero byte; empty on failure
};
SerialNumber get_sn(Device& device);

Status set_officer_info(Device& device, const GbkText& identifier);
Status set_voice_prompt(Device& device, bool on);

Status set_video_2304x1296(Device& device);
Status set_video_1080p60(Device& device);
Status set_video_1080p30(Device& device);
Status set_video_720p60(Device& device);
Status set_video_720p30(Device& device);
Status set_video_848x480(Device& device);
Status set_segment_5min(Device& device);
Status set_segment_10min(Device& device);
Status set_segment_15min(Device& device);
Status set_segment_30min(Device& device);
Status set_segment_off(Device& device);
Status set_photo_4m(Device& device);
Status set_photo_16m(Device& device);
Status set_photo_20m(Device& device);
Status set_photo_32m(Device& device);
Status set_brightness_high(Device& device);
Status set_brightness_mid(Device& device);
Status set_brightness_low(Device& device);
Status set_screen_off_1min(Device& device);
Status set_screen_off_5min(Device& device);
Status set_screen_off_never(Device& device);
Status set_ir_auto(Device& device);
Status set_ir_manual(Device& device);
Status set_motion_on(Device& device);
Status set_motion_off(Device& device);

}  // namespace kbc::link
