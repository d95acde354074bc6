// Every text the station service shows on a slot of the drawer, in the window and kbcctl.
#pragma once

#include <string_view>

namespace kbc::console::msg {

// The stages of a recorder in the drawer before its offload, and the ends of its run.
inline constexpr std::string_view slot_queued = "排队等候";
inline constexpr std::string_view slot_identifying = "读取序列号";
inline constexpr std::string_view slot_verifying = "验证密码并校时";
inline constexpr std::string_view slot_applying = "设置站点配置";
inline constexpr std::string_view slot_recent = "近期已导出";
inline constexpr std::string_view slot_unplugged = "已拔出";

// What ended a recorder's run before its offload.
inline constexpr std::string_view slot_no_serial = "无法读取记录仪的序列号";
inline constexpr std::string_view slot_no_key =
    "记录仪密钥文件中没有该记录仪的密码，也没有默认密码";
inline constexpr std::string_view slot_stopped = "导出服务已停止，下次启动时继续";
// "已于 2026-12-09 08:45 导出并验证（7个文件, 4.3 MB），本次不再导出；清除规则允许清除"
inline constexpr char slot_recent_format[] = "已于 %s 导出并验证（%s），本次不再导出；%s";
inline constexpr std::string_view slot_erase_allowed = "清除规则允许操作员清除";
inline constexpr std::string_view slot_erase_refused = "清除规则尚不允许清除";

}  // namespace kbc::console::msg
