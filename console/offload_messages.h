// Every text the offload shows the operator, in the window's pane and kbcctl's receipts.
#pragma once

#include <string_view>

namespace kbc::console::msg {

// The stages of a recorder's offload, in their order.
inline constexpr std::string_view stage_switching = "切换为磁盘";
inline constexpr std::string_view stage_waiting_for_disk = "等待磁盘";
inline constexpr std::string_view stage_copying = "复制中";
inline constexpr std::string_view stage_verifying = "校验中";
inline constexpr std::string_view stage_verified = "已验证";
inline constexpr std::string_view stage_failed = "失败";
inline constexpr std::string_view stage_cancelled = "已取消";

// What ended an offload before its bag.
inline constexpr std::string_view offload_disk_unreadable = "无法读取记录仪的磁盘: ";
inline constexpr std::string_view offload_no_port = "无法确定记录仪的USB端口，不能辨认它的磁盘";
inline constexpr std::string_view offload_cancelled = "导出已取消";
inline constexpr char offload_no_disk_format[] = "记录仪的磁盘在%s内没有出现在它的USB端口 %s 上";
inline constexpr std::string_view offload_ignored_disks = "该端口上出现的其他设备的磁盘已忽略: ";
inline constexpr char offload_locked_format[] =
    "该记录仪的导出正在另一处进行 (%s)，本次没有导出，请等待其完成";
inline constexpr char offload_lock_failed_format[] = "无法锁定该记录仪的导出 (%s)";

// The receipt of a bag.
inline constexpr char offload_count_format[] = "%llu个文件, %s";
inline constexpr char offload_verified_format[] = "导出已验证: %s (%s)";
inline constexpr char offload_kept_format[] = "其中%llu个文件沿用上次未完成的导出";
inline constexpr char offload_set_aside_format[] =
    "记录仪上已不再有的%llu个文件另存为已验证的证据包: %s";
inline constexpr char offload_set_aside_failed_format[] =
    "记录仪上已不再有的文件未能另存，仍保留在: %s";
inline constexpr char offload_left_cancelled_format[] = "导出已取消，未完成的导出保留在: %s";
inline constexpr char offload_left_failed_format[] =
    "导出失败，录像仍在记录仪上；未完成的导出保留在: %s";
inline constexpr char offload_no_room_format[] =
    "证据库空间不足: 尚需 %s，可用仅 %s；未写入任何文件，录像仍在记录仪上";

// What went wrong with a file of the bag.
inline constexpr char problem_recorder_format[] = "读取记录仪失败 (%s)";
inline constexpr char problem_store_format[] = "写入证据库失败 (%s)";
inline constexpr std::string_view problem_differs = "证据库中的副本与记录仪上读出的不一致";
inline constexpr char problem_changed_format[] = "校验期间证据包被他人改动 (%s)";

// kbcctl's progress line: "复制中  12/132 个文件  1.2 GB/3.8 GB  85.3 MB/s  剩余 0:31".
inline constexpr std::string_view progress_files = " 个文件  ";
inline constexpr char progress_rate_format[] = "  %.1f MB/s  剩余 %lld:%02lld";

}  // namespace kbc::console::msg
