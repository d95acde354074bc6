// Every report text of the console, byte for byte as the operator has always seen them.
#pragma once

#include <string_view>

namespace kbc::console::msg {

// The handler sequence.
inline constexpr std::string_view enter_password = "请输入密码!";
inline constexpr std::string_view password_length = "密码长度有误!";
inline constexpr std::string_view wrong_password = "密码错误!";
inline constexpr std::string_view reconnect = "重新连接!";
// Several recorders are connected and none is chosen: nothing was sent to any of them.
inline constexpr std::string_view choose_recorder = "连接了多台记录仪，请先选择一台!";

// Verification.
inline constexpr char time_set_format[] = "成功设置系统时间:%d-%d-%d %d:%d:%d";

// Storage.
inline constexpr std::string_view msdc_done = "设置移动U盘成功.";
inline constexpr std::string_view msdc_replug = "要再次使用本软件功能,请断开USB连接，重新连接!";
inline constexpr std::string_view erase_caption = "清除所有文件";
inline constexpr std::string_view erase_first_question =
    "此操作将清除所有文件资料，请确认资料是否已备份？";
inline constexpr std::string_view erase_second_question = "请再次确认是否进行清除操作？";
inline constexpr std::string_view erase_cancelled = "清除操作取消!";
inline constexpr std::string_view erase_starting = "所有资料将会被消除!";
inline constexpr std::string_view erase_done = "清除文件成功";
inline constexpr std::string_view erase_failed = "清除文件失败，请重新连接!";
// What the first erase question adds of the recorder's offloads, on a line of its own.
inline constexpr char offload_newest_format[] =
    "该记录仪最近一次已验证的导出: %04d-%02d-%02d %02d:%02d, %llu个文件, %s";
inline constexpr std::string_view offload_none = "该记录仪没有已验证的导出记录。";
inline constexpr std::string_view offload_uploaded = ", 已上传并校验";
inline constexpr std::string_view offload_serial_unknown =
    "未能读取该记录仪的序列号，无法确认是否已导出。";
// The station's rule refuses to erase a recorder whose recordings were not offloaded lately.
inline constexpr char erase_refused_format[] =
    "按本站规定，最近%s内没有该记录仪已验证的导出，不能清除! 请先导出录像。";
inline constexpr char erase_refused_upload_format[] =
    "按本站规定，最近%s内没有该记录仪已上传并校验的导出，不能清除! 请等待上传完成。";

// Settings with nothing chosen.
inline constexpr std::string_view choose_resolution = "请选择分辨率!";
inline constexpr std::string_view choose_segment = "请选择分段时间设置!";
inline constexpr std::string_view choose_brightness = "请选择屏幕亮度!";
inline constexpr std::string_view choose_screen_off = "请选择关屏时间!";
inline constexpr std::string_view choose_ir = "请选择红外!";
inline constexpr std::string_view choose_voice = "请选择语音!";
inline constexpr std::string_view choose_motion = "请选择移动侦测!";

// Settings done.
inline constexpr std::string_view video_2304x1296 = "录像尺寸设置为2304X1296(30)成功!";
inline constexpr std::string_view video_1080p60 = "录像尺寸设置为1920X1080(60)成功!";
inline constexpr std::string_view video_1080p30 = "录像尺寸设置为1920X1080(30)成功!";
inline constexpr std::string_view video_720p60 = "录像尺寸设置为1280X720(60)成功!";
inline constexpr std::string_view video_720p30 = "录像尺寸设置为1280X720(30)成功!";
inline constexpr std::string_view video_848x480 = "录像尺寸设置为848X480(30)成功!";
inline constexpr std::string_view segment_5min = "录像分段5分钟设置成功";
inline constexpr std::string_view segment_10min = "录像分段10分钟设置成功";
inline constexpr std::string_view segment_15min = "录像分段15分钟设置成功";
inline constexpr std::string_view segment_30min = "录像分段30分钟设置成功";
inline constexpr std::string_view segment_off = "录像分段关闭设置成功";
inline constexpr std::string_view photo_4m = "拍照大小设置为2688X1512成功!";
inline constexpr std::string_view photo_16m = "拍照大小设置为5376X3024成功!";
inline constexpr std::string_view photo_20m = "拍照大小设置为6016X3384成功!";
inline constexpr std::string_view photo_32m = "拍照大小设置为7680X4320成功!";
inline constexpr std::string_view brightness_high = "屏亮度高设置成功!";
inline constexpr std::string_view brightness_mid = "屏亮度中设置成功!";
inline constexpr std::string_view brightness_low = "屏亮度低设置成功!";
inline constexpr std::string_view screen_off_1min = "1分钟关屏设置成功!";
inline constexpr std::string_view screen_off_5min = "5分钟关屏设置成功!";
inline constexpr std::string_view screen_off_never = "不关屏设置成功!";
inline constexpr std::string_view ir_manual = "手动红外设置成功!";
inline constexpr std::string_view ir_auto = "自动红外设置成功!";
inline constexpr std::string_view voice_on = "打开语音提示成功!";
inline constexpr std::string_view voice_off = "关闭语音提示成功!";
inline constexpr std::string_view motion_on = "打开移动侦测成功!";
inline constexpr std::string_view motion_off = "关闭移动侦测成功!";
inline constexpr std::string_view motion_refused = "请先关闭预录!";

// The identity buttons.
inline constexpr std::string_view user_name_empty = "用户名称设置为空!";
inline constexpr std::string_view user_name_too_long = "用户名称设置长度太长!";
inline constexpr std::string_view user_name_done = "设置用户名称成功";
inline constexpr std::string_view user_number_empty = "用户编号设置为空!";
inline constexpr std::string_view user_number_too_long = "用户编号设置长度太长!";
inline constexpr std::string_view user_number_done = "设置用户编号成功";
inline constexpr std::string_view unit_name_empty = "单位名称设置为空!";
inline constexpr std::string_view unit_name_too_long = "单位名称设置长度太长!";
inline constexpr std::string_view unit_name_done = "设置单位名称成功";
inline constexpr std::string_view unit_number_empty = "单位编号设置为空!";
inline constexpr std::string_view unit_number_too_long = "单位编号设置长度太长!";
inline constexpr std::string_view unit_number_done = "设置单位编号成功";

// The record's lines, each followed by the field's text.
inline constexpr std::string_view info_serial_number = "设备序列号:";
inline constexpr std::string_view info_user_number = "用户编号:";
inline constexpr std::string_view info_user_name = "用户名称:";
inline constexpr std::string_view info_unit_number = "单位编号:";
inline constexpr std::string_view info_unit_name = "单位名称:";

inline constexpr std::string_view letters_and_digits_only = "仅支持数字或大小写字母!";

// The password-change dialog.
inline constexpr std::string_view dialog_title = "修改密码";
inline constexpr std::string_view normal_title = "普通密码修改";
inline constexpr std::string_view super_title = "管理员密码修改";
inline constexpr std::string_view enter_old_password = "请输入旧密码!";
inline constexpr std::string_view enter_new_password = "请输入新密码!";
inline constexpr std::string_view enter_new_password_again = "请再次输入新密码!";
inline constexpr std::string_view old_password_wrong = "密码错误或者重新连接!";
inline constexpr std::string_view new_password_length = "新密码长度错误!";
inline constexpr std::string_view new_password_mismatch = "新密码不一致!";
inline constexpr std::string_view password_conflict = "密码冲突，请使用其它密码!";
inline constexpr std::string_view password_changed = "修改密码成功!";
inline constexpr std::string_view password_change_failed = "修改密码失败!";

// A station profile applied from the window's menu: the run's first line names the file, each
// recorder's receipt begins with the recorder and ends with what was not sent, and the last line
// counts the recorders that took every setting.
inline constexpr std::string_view applying_profile = "应用配置文件 ";
inline constexpr std::string_view profile_recorder = "记录仪 ";
inline constexpr std::string_view unknown_serial = "序列号未知";
inline constexpr std::string_view not_sent = "未发送的设置: ";
inline constexpr char profile_applied_format[] = "配置文件应用完毕: %zu台记录仪中%zu台全部设置成功";

}  // namespace kbc::console::msg
