// The shell's own texts.
#pragma once

#include <QString>
#include <QStringList>
#include <string_view>

#include "console/console.h"
#include "console/messages.h"

namespace kbc::app {

// The console's texts are UTF-8.
inline QString from_utf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace kbc::app

namespace kbc::app::text {

inline QString app_title() {
  return from_utf8(console::kAppTitle);
}
inline QString idle() {
  return QStringLiteral("就绪");
}
inline QString caps_lock() {
  return QStringLiteral("大写");
}
inline QString num_lock() {
  return QStringLiteral("数字");
}
inline QString scroll_lock() {
  return QStringLiteral("滚动");
}
// The menus and their entries carry an Alt mnemonic the Chinese way, the key in brackets after
// the text.
inline QString with_mnemonic(const QString& text, char key) {
  return QStringLiteral("%1(&%2)").arg(text, QChar::fromLatin1(key));
}
inline QString about_menu() {
  return QStringLiteral("关于");
}
inline QString about_item() {
  return QStringLiteral("关于执法记录仪管理软件");
}
inline QString simulated() {
  return QStringLiteral("模拟记录仪");
}
// The recorder the console talks to, in the status bar.
inline QString no_recorder() {
  return QStringLiteral("未连接记录仪");
}
inline QString recorder() {
  return QStringLiteral("记录仪");
}
inline QString recorder_list() {
  return QStringLiteral("记录仪：");
}
inline QString pick_recorder() {
  return QStringLiteral("请选择");
}
inline QString picked_recorder_gone(const QString& recorder) {
  return QStringLiteral("所选记录仪 %1 已断开").arg(recorder);
}
inline QString unknown_serial() {
  return from_utf8(console::msg::unknown_serial);
}
// Station profiles.
inline QString profile_menu() {
  return QStringLiteral("配置文件");
}
inline QString apply_to_chosen() {
  return QStringLiteral("应用到当前记录仪(&C)…");
}
inline QString apply_to_every() {
  return QStringLiteral("应用到所有记录仪(&A)…");
}
inline QString open_profile() {
  return QStringLiteral("选择配置文件");
}
inline QString profile_filter() {
  return QStringLiteral("配置文件 (*.toml);;所有文件 (*)");
}
inline QString profile_unusable() {
  return QStringLiteral("配置文件无法使用:");
}
// Offloads.
inline QString offload_menu() {
  return QStringLiteral("导出录像");
}
inline QString offload_chosen() {
  return QStringLiteral("导出当前记录仪的录像(&C)");
}
inline QString offload_every() {
  return QStringLiteral("导出所有记录仪的录像(&A)");
}
inline QString drawer_item() {
  return QStringLiteral("录像柜(&D)");
}
inline QString drawer_title() {
  return QStringLiteral("录像柜");
}
inline QStringList drawer_columns() {
  return {QStringLiteral("端口"),  QStringLiteral("序列号"),   QStringLiteral("警员"),
          QStringLiteral("单位"),  QStringLiteral("阶段"),     QStringLiteral("进度"),
          QStringLiteral("速度"),  QStringLiteral("剩余时间"), QStringLiteral("结果"),
          QStringLiteral("已插入")};
}
inline QString drawer_running() {
  return QStringLiteral("导出服务正在运行：插入的记录仪由它自动校时、设置并导出");
}
inline QString drawer_not_running() {
  return QStringLiteral("导出服务没有运行");
}
inline QString drawer_overdue() {
  return QStringLiteral(" (逾期未导出)");
}
inline QString drawer_taken() {
  return QStringLiteral("导出服务正在运行，录像柜中的记录仪由它导出；请在“录像柜”中查看");
}
inline QString offload_title() {
  return QStringLiteral("导出录像");
}
inline QStringList offload_columns() {
  return {QStringLiteral("记录仪"), QStringLiteral("警员"), QStringLiteral("文件"),
          QStringLiteral("数据"),   QStringLiteral("速度"), QStringLiteral("剩余时间"),
          QStringLiteral("状态"),   QStringLiteral("")};
}
inline QString cancel() {
  return QStringLiteral("取消");
}
inline QString offload_starting(int recorders) {
  return QStringLiteral("开始导出录像: %1台记录仪").arg(recorders);
}
inline QString offload_running_question() {
  return QStringLiteral(
      "录像导出尚未完成。关闭将取消导出，已复制的文件保留，下次导出时继续。确定关闭吗？");
}
inline QString all_uploaded() {
  return QStringLiteral("已全部上传");
}
inline QString upload_waiting(int bags, const QString& size) {
  return QStringLiteral("待上传: %1个 (%2)").arg(bags).arg(size);
}
inline QString upload_failed() {
  return QStringLiteral("上传出错: ");
}
inline QString store_free(const QString& size) {
  return QStringLiteral("证据库剩余 %1").arg(size);
}
inline QString store_low(const QString& size) {
  return QStringLiteral("证据库仅剩 %1").arg(size);
}
inline QString store_days_left(long long days) {
  return QStringLiteral("，约%1天").arg(days);
}
inline QString recorders_overdue(int recorders) {
  return QStringLiteral("%1台记录仪逾期未导出").arg(recorders);
}
inline QString store_low_tip(long long days) {
  return QStringLiteral("证据库空间不足；按近一周的用量约可再用%1天").arg(days);
}
inline QString station_problem() {
  return QStringLiteral("站点配置文件有误，清除前须先导出: ");
}
// The program's version, from the project's.
QString version();
inline QString version_line() {
  return QStringLiteral("版本 ") + version();
}

}  // namespace kbc::app::text
