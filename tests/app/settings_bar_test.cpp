#include "app/settings_bar.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <memory>

#include "app/console_edit.h"

namespace kbc::app {
namespace {

enum class Kind { edit, password, button, list };

struct Row {
  int id;
  Kind kind;
  const char* caption;  // a button's caption, or a list's items joined by "|"
  QRect units;
};

// Template 1111 as the operator has always known it.
const Row kRows[] = {
    {1009, Kind::password, "", {68, 18, 69, 14}},
    {1012, Kind::button, "验证密码", {155, 15, 64, 18}},
    {1019, Kind::button, "修改密码", {224, 15, 64, 18}},
    {1052, Kind::button, "清除所有文件", {377, 15, 64, 18}},
    {1016, Kind::button, "移动磁盘", {446, 15, 64, 18}},
    {1060,
     Kind::list,
     "2304X1296(30)|1920X1080(60)|1920X1080(30)|1280X720(60)|1280X720(30)|848X480(30)",
     {26, 74, 69, 75}},
    {1026, Kind::button, "录像分辨率", {106, 71, 64, 18}},
    {1075, Kind::list, "5分钟|10分钟|15分钟|30分钟|关闭", {196, 74, 69, 60}},
    {1076, Kind::button, "分段时间", {276, 71, 64, 18}},
    {1077, Kind::list, "2688X1512|5376X3024|6016X3384|7680X4320", {366, 74, 69, 58}},
    {1078, Kind::button, "拍照分辨率", {446, 71, 64, 18}},
    {1140, Kind::list, "手动|自动", {26, 99, 69, 50}},
    {1141, Kind::button, "红外", {106, 96, 64, 18}},
    {1096, Kind::list, "1分钟|5分钟|关闭", {196, 99, 69, 55}},
    {1095, Kind::button, "关屏时间", {276, 96, 64, 18}},
    {1142, Kind::list, "打开|关闭", {366, 99, 69, 60}},
    {1143, Kind::button, "语音提示", {446, 96, 64, 18}},
    {1093, Kind::list, "高|中|低", {26, 124, 70, 55}},
    {1092, Kind::button, "屏幕亮度", {106, 121, 64, 18}},
    {1148, Kind::list, "打开|关闭", {196, 124, 70, 41}},
    {1145, Kind::button, "移动侦测", {276, 121, 64, 18}},
    {1113, Kind::edit, "", {26, 206, 74, 14}},
    {1112, Kind::button, "单位编号设置", {113, 203, 64, 18}},
    {1110, Kind::edit, "", {201, 206, 140, 14}},
    {1111, Kind::button, "单位名称设置", {357, 203, 64, 18}},
    {1114, Kind::button, "查看设备信息", {446, 213, 64, 18}},
    {1108, Kind::edit, "", {26, 231, 74, 14}},
    {1109, Kind::button, "用户编号设置", {113, 228, 64, 18}},
    {1105, Kind::edit, "", {201, 231, 140, 14}},
    {1107, Kind::button, "用户名称设置", {357, 228, 64, 18}},
};

class SettingsBarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QString error;
    const auto dialog = settings_bar_template(&error);
    ASSERT_TRUE(dialog) << error.toStdString();
    bar = std::make_unique<SettingsBar>(*dialog, nullptr);
  }
  std::unique_ptr<SettingsBar> bar;
};

TEST_F(SettingsBarTest, EveryControlOfTheTemplateWithItsCaptionItemsAndPlace) {
  const BaseUnits base = bar->base_units();
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.id);
    QWidget* control = bar->control(row.id);
    ASSERT_NE(control, nullptr);
    const QRect pixels = to_pixels(row.units, base);
    EXPECT_EQ(control->pos(), pixels.topLeft());
    EXPECT_EQ(control->width(), pixels.width());
    switch (row.kind) {
      case Kind::edit:
      case Kind::password: {
        auto* edit = qobject_cast<ConsoleEdit*>(control);
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(edit->echoMode(),
                  row.kind == Kind::password ? QLineEdit::Password : QLineEdit::Normal);
        EXPECT_EQ(control->height(), pixels.height());
        break;
      }
      case Kind::button: {
        auto* button = qobject_cast<QPushButton*>(control);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), QString::fromUtf8(row.caption));
        EXPECT_EQ(control->height(), pixels.height());
        break;
      }
      case Kind::list: {
        auto* list = qobject_cast<QComboBox*>(control);
        ASSERT_NE(list, nullptr);
        EXPECT_FALSE(list->isEditable());
        EXPECT_EQ(list->currentIndex(), -1);
        EXPECT_TRUE(list->currentText().isEmpty());
        QStringList items;
        for (int i = 0; i < list->count(); ++i) {
          items.push_back(list->itemText(i));
        }
        EXPECT_EQ(items.join(QLatin1Char('|')), QString::fromUtf8(row.caption));
        // Closed, a list is as tall as its font needs, never as tall as when dropped down.
        EXPECT_LT(control->height(), pixels.height());
        break;
      }
    }
  }
}

TEST_F(SettingsBarTest, LabelGroupsAndSizeAsTheTemplateHasThem) {
  const auto labels = bar->findChildren<QLabel*>();
  ASSERT_EQ(labels.size(), 1);
  EXPECT_EQ(labels[0]->text(), QString::fromUtf8("密  码："));
  EXPECT_EQ(labels[0]->geometry(), to_pixels(QRect(19, 18, 45, 16), bar->base_units()));
  EXPECT_EQ(bar->findChildren<QGroupBox*>().size(), 4);
  EXPECT_EQ(bar->button_ids().size(), 17u);
  // As large as its controls with the template's margins: down to the identity group and the
  // same 4 units below it as above the password group; across to the groups' right edge and
  // the 13 units they keep on the left.
  const QRect identity = to_pixels(QRect(14, 191, 511, 62), bar->base_units());
  const QRect top = to_pixels(QRect(14, 4, 296, 38), bar->base_units());
  const QRect left = to_pixels(QRect(13, 60, 511, 113), bar->base_units());
  EXPECT_EQ(bar->height(), identity.bottom() + 1 + top.top());
  EXPECT_EQ(bar->width(), identity.right() + 1 + left.left());
  EXPECT_LE(bar->width(), 828);
}

TEST_F(SettingsBarTest, SortedListKeepsGbkOrderOthersTheOrderGiven) {
  // 关 (U+5173) is below 打 (U+6253) in Unicode, but GBK puts 打 (B4F2) before 关 (B9D8).
  bar->fill_list(1142, {QString::fromUtf8("关闭"), QString::fromUtf8("打开"), QStringLiteral("A")});
  EXPECT_EQ(bar->list(1142)->itemText(0), QStringLiteral("A"));
  EXPECT_EQ(bar->list(1142)->itemText(1), QString::fromUtf8("打开"));
  EXPECT_EQ(bar->list(1142)->currentIndex(), -1);
  bar->fill_list(1096, {QString::fromUtf8("关闭"), QString::fromUtf8("打开")});
  EXPECT_EQ(bar->list(1096)->itemText(0), QString::fromUtf8("关闭"));
}

}  // namespace
}  // namespace kbc::app
