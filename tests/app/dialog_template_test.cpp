#include "app/dialog_template.h"

#include <gtest/gtest.h>

namespace kbc::app {
namespace {

TEST(DialogTemplate, ParsesStylesAndListItems) {
  QString error;
  const auto dialog = parse_template(QString::fromUtf8("# comment\n"
                                                       "dialog\t7\t0\t0\t100\t50\t\n"
                                                       "font\t8\tMS Sans Serif\t6\t13\n"
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
                                       "font\t12\t宋体\t8\t16\n"
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

TEST(DialogTemplate, RefusesMalformedLinesAndNumbersNoDialogUnitCanHold) {
  const QString font = QStringLiteral("font\t8\tMS Sans Serif\t6\t13\n");
  const struct {
    QString text;
    const char* error;
  } rows[] = {
      {"button\t1\t0\t0\t1\t1\tx\n", "no dialog line"},
      {"dialog\t1\t0\t0\t1\t1\n", "no font line"},
      {"dialog\t1\t0\t0\t1\t1\n" + font + "widget\t1\t0\t0\t1\t1\tx\n", "line 3: unknown kind"},
      {"dialog\t1\t0\t0\t1\t1\n" + font + "button\t1\t0\t0\t1\n", "line 3: control needs"},
      {"dialog\t1\t0\t0\t1\t-1\n", "line 1: dialog needs"},
      {"dialog\t1\t0\t0\t1\t1\n" + font + "edit\t1\t0\t0\t1\t1\t\tbold\n", "line 3: unknown style"},
      {"dialog\t1\t0\t0\t1\t1\n" + font + "button\t1\t0\t0\t1\t1\tx\tdefault,hidden\n",
       "line 3: unknown style"},
      // Beyond 16-bit dialog units, ids and sizes, however the number is written.
      {"dialog\t1\t0\t0\t32768\t1\n", "line 1: dialog needs"},
      {"dialog\t1\t0\t0\t1\t99999999999\n", "line 1: dialog needs"},
      {"dialog\t65536\t0\t0\t1\t1\n", "line 1: dialog needs"},
      {"dialog\t1\t0\t0\t1\t1\n" + font + "button\t1\t32768\t0\t1\t1\tx\n",
       "line 3: control needs"},
      {"dialog\t1\t0\t0\t1\t1\n" + font + "button\t1\t0\t-32769\t1\t1\tx\n",
       "line 3: control needs"},
      {"dialog\t1\t0\t0\t1\t1\n" + font + "button\t-2\t0\t0\t1\t1\tx\n", "line 3: control needs"},
      {"dialog\t1\t0\t0\t1\t1\n" + font + "button\t1\t0\t0\t2147483648\t1\tx\n",
       "line 3: control needs"},
      {"dialog\t1\t0\t0\t1\t1\nfont\t0\tMS Sans Serif\t6\t13\n", "line 2: font needs"},
      {"dialog\t1\t0\t0\t1\t1\nfont\t8\tMS Sans Serif\t6\n", "line 2: font needs"},
      {"dialog\t1\t0\t0\t1\t1\nfont\t8\tMS Sans Serif\t101\t13\n", "line 2: font needs"},
      {"dialog\t1\t0\t0\t1\t1\nfont\t8\t\t6\t13\n", "line 2: font needs"},
  };
  for (const auto& row : rows) {
    QString error;
    EXPECT_FALSE(parse_template(row.text, &error)) << row.text.toStdString();
    EXPECT_TRUE(error.startsWith(QLatin1String(row.error))) << error.toStdString();
  }
}

TEST(DialogTemplate, TheLargestUnitsStillMakePixels) {
  QString error;
  const auto dialog =
      parse_template(QStringLiteral("dialog\t1\t-32768\t-32768\t32767\t32767\n"
                                    "font\t72\tX\t100\t100\n"
                                    "button\t65535\t32767\t-32768\t32767\t32767\tx\n"),
                     &error);
  ASSERT_TRUE(dialog) << error.toStdString();
  const BaseUnits base = base_units(*dialog, 960);
  EXPECT_EQ(base.x, 1000);
  const QRect pixels = to_pixels(dialog->controls[0].units, base);
  EXPECT_EQ(pixels, QRect(8191750, -4096000, 8191750, 4095875));
  EXPECT_EQ(pixels.right(), 16383499);
}

TEST(DialogTemplate, BaseUnitsFollowTheScreensDpiNotTheFonts) {
  QString error;
  const auto dialog = parse_template(
      QStringLiteral("dialog\t1\t0\t0\t10\t10\nfont\t8\tMS Sans Serif\t6\t13\n"), &error);
  ASSERT_TRUE(dialog) << error.toStdString();
  const struct {
    qreal dpi;
    int x;
    int y;
  } rows[] = {{96, 6, 13}, {120, 8, 16}, {144, 9, 20}, {192, 12, 26}, {0, 6, 13}, {1e9, 6, 13}};
  for (const auto& row : rows) {
    const BaseUnits base = base_units(*dialog, row.dpi);
    EXPECT_EQ(base.x, row.x) << row.dpi;
    EXPECT_EQ(base.y, row.y) << row.dpi;
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
