#include "app/dialog_template.h"

#include <gtest/gtest.h>

namespace kbc::app {
namespace {

TEST(DialogTemplate, ParsesStylesAndListItems) {
  QString error;
  const auto dialog = parse_template(QString::fromUtf8("# comment\n"
                                                       "dialog\t7\t0\t0\t100\t50\t\n"
                                                       "font\t8\tMS Sans Serif\n"
                                                       "edit\t9\t5\t6\t7\t8\t\tpassword\r\n"
                                                       "list\t11\t1\t1\t1\t1\t打开|关闭\tsorted\n"),
                                     &error);
  ASSERT_TRUE(dialog) << error.toStdString();
  EXPECT_EQ(dialog->units, QSize(100, 50));
  ASSERT_EQ(dialog->controls.size(), 2u);
  EXPECT_EQ(dialog->controls[0].units, QRect(5, 6, 7, 8));
  EXPECT_TRUE(dialog->controls[0].password);
  EXPECT_EQ(dialog->controls[1].items.join(u'/'), QString::fromUtf8("打开/关闭"));
  EXPECT_TRUE(dialog->controls[1].sorted);
}

TEST(DialogTemplate, ParsesTitleLineBreaksAndSeveralStyles) {
  QString error;
  const auto dialog =
      parse_template(QString::fromUtf8("dialog\t138\t0\t0\t286\t117\t修改密码\n"
                                       "ltext\t-1\t1\t2\t3\t4\t提示\\n\\n  a\\x\n"
                                       "ltext\t-1\t1\t2\t3\t4\tb\tvcentre\n"
                                       "button\t1\t1\t2\t3\t4\t确定\tdefault  hidden\n"
                                       "ctext\t-1\t1\t2\t3\t4\tc\n"),
                     &error);
  ASSERT_TRUE(dialog) << error.toStdString();
  EXPECT_EQ(dialog->title, QString::fromUtf8("修改密码"));
  ASSERT_EQ(dialog->controls.size(), 4u);
  EXPECT_EQ(dialog->controls[0].text, QString::fromUtf8("提示\n\n  a\\x"));
  EXPECT_EQ(text_alignment(dialog->controls[0]), Qt::AlignLeft | Qt::AlignTop);
  EXPECT_EQ(text_alignment(dialog->controls[1]), Qt::AlignLeft | Qt::AlignVCenter);
  EXPECT_EQ(text_alignment(dialog->controls[3]), Qt::AlignHCenter | Qt::AlignTop);
  const TemplateControl& ok = dialog->controls[2];
  EXPECT_TRUE(ok.default_button);
  EXPECT_TRUE(ok.hidden);
  EXPECT_FALSE(ok.password);
  EXPECT_FALSE(dialog->controls[0].hidden);
}

TEST(DialogTemplate, RefusesMalformedLines) {
  const struct {
    const char* text;
    const char* error;
  } rows[] = {
      {"button\t1\t0\t0\t1\t1\tx\n", "no dialog line"},
      {"dialog\t1\t0\t0\t1\t1\nwidget\t1\t0\t0\t1\t1\tx\n", "line 2: unknown kind"},
      {"dialog\t1\t0\t0\t1\t1\nbutton\t1\t0\t0\t1\n", "line 2: control needs an id"},
      {"dialog\t1\t0\t0\t1\t-1\n", "line 1: dialog needs an id"},
      {"dialog\t1\t0\t0\t1\t1\nedit\t1\t0\t0\t1\t1\t\tbold\n", "line 2: unknown style"},
      {"dialog\t1\t0\t0\t1\t1\nbutton\t1\t0\t0\t1\t1\tx\tdefault,hidden\n",
       "line 2: unknown style"},
  };
  for (const auto& row : rows) {
    QString error;
    EXPECT_FALSE(parse_template(QString::fromUtf8(row.text), &error)) << row.text;
    EXPECT_TRUE(error.startsWith(QLatin1String(row.error))) << error.toStdString();
  }
}

TEST(DialogTemplate, DialogUnitsToPixelsRoundEachCoordinate) {
  const BaseUnits ms_sans_serif{6, 13};  // 8 pt at 96 dpi
  const struct {
    QRect units;
    QRect pixels;
  } rows[] = {
      {{68, 18, 69, 14}, {102, 29, 104, 23}},  // 103.5 and 22.75 round up
      {{19, 18, 45, 16}, {29, 29, 68, 26}},
      {{0, 0, 685, 280}, {0, 0, 1028, 455}},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(to_pixels(row.units, ms_sans_serif), row.pixels) << row.units.x();
  }
}

}  // namespace
}  // namespace kbc::app
