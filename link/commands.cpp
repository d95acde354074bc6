#include "commands.h"

#include <algorithm>

#include "exchange.h"

namespace kbc::link {
namespace {

std::span<const std::uint8_t> as_bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

Status run(Device& device, Cmd cmd, std::span<const std::uint8_t> argument) {
  const CommandSpec& command = spec(cmd);
  return judge(command, exchange(device, command, argument));
}

Status check_normal_psw(Device& d, const GbkText& password) {
  return run(d, Cmd::check_normal_psw, password.span());
}

Status check_admin_psw(Device& d, const GbkText& password) {
  return run(d, Cmd::check_admin_psw, password.span());
}

Status read_psw_status(Device& d, const GbkText& password) {
  return run(d, Cmd::read_psw_status, password.span());
}

Status set_time(Device& d, const LocalTime& time) {
  return run(d, Cmd::set_time, as_bytes(time_text(time)));
}

bool switch_msdc(Device& d, const GbkText& password) {
  const CommandSpec& command = spec(Cmd::switch_msdc);
  return exchange(d, command, password.span()).stage == Exchange::Stage::replied;
}

Status clear_all_files(Device& d) {
  return run(d, Cmd::clear_all_files);
}

Status set_normal_psw(Device& d, const GbkText& password) {
  return run(d, Cmd::set_normal_psw, password.span());
}

Status set_admin_psw(Device& d, const GbkText& password) {
  return run(d, Cmd::set_admin_psw, password.span());
}

Status set_identity(Device& d, const IdentityRecord& record) {
  return run(d, Cmd::set_identity, record.bytes());
}

DeviceInfo get_device_info(Device& d, const GbkText& text) {
  const CommandSpec& command = spec(Cmd::get_device_info);
  const Exchange result = exchange(d, command, text.span());
  DeviceInfo info{judge(command, result), {}};
  std::copy_n(result.reply.begin(), std::min(result.reply.size(), info.reply.size()),
              info.reply.begin());
  return info;
}

SerialNumber get_sn(Device& d) {
  const CommandSpec& command = spec(Cmd::get_sn);
  const Exchange result = exchange(d, command, {});
  const Status status = judge(command, result);
  if (status != command.statuses.ok) {
    return {status, {}};
  }
  const auto first = result.reply.begin() + 2;
  const auto end = std::find(first, result.reply.end(), 0);
  return {status, GbkText::from_bytes(std::span(&*first, static_cast<std::size_t>(end - first)))};
}

Status set_officer_info(Device& d, const GbkText& identifier) {
  return run(d, Cmd::set_officer_info, identifier.span());
}

Status set_voice_prompt(Device& d, bool on) {
  const CommandSpec& command = spec(Cmd::set_voice_prompt);
  return judge(command, exchange(d, command, as_bytes(on ? "1" : "0")), !on);
}

// The settings commands carry no argument.
#define KBC_SETTING(name)     \
  Status name(Device& d) {    \
    return run(d, Cmd::name); \
  }
KBC_SETTING(set_video_2304x1296)
KBC_SETTING(set_video_1080p60)
KBC_SETTING(set_video_1080p30)
KBC_SETTING(set_video_720p60)
KBC_SETTING(set_video_720p30)
KBC_SETTING(set_video_848x480)
KBC_SETTING(set_segment_5min)
KBC_SETTING(set_segment_10min)
KBC_SETTING(set_segment_15min)
KBC_SETTING(set_segment_30min)
KBC_SETTING(set_segment_off)
KBC_SETTING(set_photo_4m)
KBC_SETTING(set_photo_16m)
KBC_SETTING(set_photo_20m)
KBC_SETTING(set_photo_32m)
KBC_SETTING(set_brightness_high)
KBC_SETTING(set_brightness_mid)
KBC_SETTING(set_brightness_low)
KBC_SETTING(set_screen_off_1min)
KBC_SETTING(set_screen_off_5min)
KBC_SETTING(set_screen_off_never)
KBC_SETTING(set_ir_auto)
KBC_SETTING(set_ir_manual)
KBC_SETTING(set_motion_on)
KBC_SETTING(set_motion_off)
#undef KBC_SETTING

}  // namespace kbc::link
