#include "app/password_dlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <string>
#include <vector>

#include "console/control_ids.h"
#include "link/trace.h"
#include "sim/sim_bus.h"

namespace kbc::app {
namespace {

using console::PasswordRole;

const QString kHint = QString::fromUtf8(
    "提示\n\n    管理员密码修改后，如需在\n    \"蓝岬数据管理终端\"导入数\n    据， "
    "请输入修改后的密码\n\n");

class PasswordDlgTest : public ::testing::Test {
 protected:
  PasswordDlgTest() : previous_trace_(link::set_trace_sink({})) {}
  ~PasswordDlgTest() override { link::set_trace_sink(previous_trace_); }

  // A dialog in the role, as "修改密码" opens it, whose reports are collected.
  std::unique_ptr<CPasswordDlg> open(PasswordRole role) {
    console::g_passwordRole = static_cast<int>(role);
    auto dlg = std::make_unique<CPasswordDlg>(
        nullptr, dialog,
        [this](QWidget*, const QString& text, console::MessageIcon) { messages.push_back(text); });
    dlg->show();
    return dlg;
  }
  static QLineEdit* edit(CPasswordDlg& dlg, int id) {
    return qobject_cast<QLineEdit*>(dlg.control(id));
  }

  link::TraceSink previous_trace_;
  sim::SimBus bus;
  sim::SimRecorder& recorder = bus.add_recorder();
  console::PasswordDialog dialog{bus.link()};
  QStringList messages;
};

TEST_F(PasswordDlgTest, TemplateTitleBeforeAnyRole) {
  const auto dlg = open(PasswordRole::none);
  EXPECT_EQ(dlg->windowTitle(), QString::fromUtf8("修改密码"));
  EXPECT_EQ(qobject_cast<QLabel*>(dlg->control(idc::super_hint))->text(), kHint);
}

TEST_F(PasswordDlgTest, EachRoleShowsItsButtonAndOnlySuperTheHint) {
  const auto super = open(PasswordRole::super);
  EXPECT_EQ(super->windowTitle(), QString::fromUtf8("管理员密码修改"));
  EXPECT_TRUE(super->control(idc::confirm_super)->isVisible());
  EXPECT_FALSE(super->control(idc::confirm_normal)->isVisible());
  EXPECT_TRUE(super->control(idc::super_hint)->isVisible());
  EXPECT_FALSE(super->control(idc::ok)->isVisible());

  const auto normal = open(PasswordRole::normal);
  EXPECT_EQ(normal->windowTitle(), QString::fromUtf8("普通密码修改"));
  EXPECT_FALSE(normal->control(idc::confirm_super)->isVisible());
  EXPECT_TRUE(normal->control(idc::confirm_normal)->isVisible());
  EXPECT_FALSE(normal->control(idc::super_hint)->isVisible());

  EXPECT_EQ(normal->width(), super->width() / 2);
  EXPECT_EQ(normal->height(), super->height());
  // The narrow dialog still holds the fields and buttons whole.
  for (int id : {idc::old_password, idc::confirm_password, idc::confirm_normal, idc::cancel}) {
    EXPECT_LE(normal->control(id)->geometry().right(), normal->width()) << id;
  }
  EXPECT_EQ(super->control(idc::confirm_super)->geometry(),
            normal->control(idc::confirm_normal)->geometry());
}

TEST_F(PasswordDlgTest, FieldsTakeSixLettersOrDigitsTyped) {
  const auto dlg = open(PasswordRole::super);
  for (int id : {idc::old_password, idc::new_password, idc::confirm_password}) {
    messages.clear();
    QLineEdit* field = edit(*dlg, id);
    EXPECT_EQ(field->echoMode(), QLineEdit::Password);
    QTest::keyClicks(field, "Ab12cd99");
    EXPECT_EQ(field->text(), "Ab12cd");
    EXPECT_TRUE(messages.isEmpty());

    for (const QString& typed : {QString::fromUtf8("密"), QString(" ")}) {
      messages.clear();
      field->setText("ab");
      // A key event carrying the character, as a keyboard layout or input method sends it.
      QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, typed);
      QApplication::sendEvent(field, &key);
      EXPECT_EQ(field->text(), "");
      EXPECT_EQ(messages, QStringList{QString::fromUtf8("仅支持数字或大小写字母!")});
    }
  }
}

TEST_F(PasswordDlgTest, FieldsRefusePaste) {
  const auto dlg = open(PasswordRole::super);
  QApplication::clipboard()->setText("abc123");
  QLineEdit* field = edit(*dlg, idc::new_password);
  field->setFocus();
  QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
  QTest::keyClick(field, Qt::Key_Insert, Qt::ShiftModifier);
  QTest::mouseClick(field, Qt::MiddleButton);
  EXPECT_EQ(field->text(), "");
  EXPECT_EQ(field->contextMenuPolicy(), Qt::NoContextMenu);

  QMimeData data;
  data.setText("abc123");
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(field, &drop);
  EXPECT_EQ(field->text(), "");
}

TEST_F(PasswordDlgTest, EnterRunsTheNormalRolesConfirm) {
  const auto dlg = open(PasswordRole::normal);
  QTest::keyClicks(edit(*dlg, idc::old_password), "000000");
  QTest::keyClicks(edit(*dlg, idc::new_password), "abc123");
  QTest::keyClicks(edit(*dlg, idc::confirm_password), "abc123");
  QTest::keyClick(edit(*dlg, idc::confirm_password), Qt::Key_Return);
  EXPECT_EQ(recorder.letters(), "-34");
  EXPECT_EQ(messages, QStringList{QString::fromUtf8("修改密码成功!")});
  EXPECT_EQ(recorder.state().normal_password, "abc123");
  EXPECT_EQ(dlg->result(), QDialog::Accepted);
}

TEST_F(PasswordDlgTest, EnterRunsTheSuperRolesConfirmWithItsConflictCheck) {
  const auto dlg = open(PasswordRole::super);
  QTest::keyClicks(edit(*dlg, idc::old_password), "888888");
  QTest::keyClicks(edit(*dlg, idc::new_password), "000000");
  QTest::keyClicks(edit(*dlg, idc::confirm_password), "000000");
  QTest::keyClick(edit(*dlg, idc::old_password), Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(recorder.letters(), "3-");
  EXPECT_EQ(messages, QStringList{QString::fromUtf8("密码冲突，请使用其它密码!")});
  EXPECT_EQ(recorder.state().admin_password, "888888");
  EXPECT_EQ(edit(*dlg, idc::old_password)->text(), "");
  EXPECT_TRUE(dlg->isVisible());

  // The visible button does the same.
  messages.clear();
  QTest::keyClicks(edit(*dlg, idc::old_password), "888888");
  QTest::keyClicks(edit(*dlg, idc::new_password), "Zz9999");
  QTest::keyClicks(edit(*dlg, idc::confirm_password), "Zz9999");
  QTest::mouseClick(qobject_cast<QPushButton*>(dlg->control(idc::confirm_super)), Qt::LeftButton);
  EXPECT_EQ(messages, QStringList{QString::fromUtf8("修改密码成功!")});
  EXPECT_EQ(recorder.state().admin_password, "Zz9999");
  EXPECT_FALSE(dlg->isVisible());
}

TEST_F(PasswordDlgTest, CancelSendsNothing) {
  const auto dlg = open(PasswordRole::super);
  QTest::keyClicks(edit(*dlg, idc::old_password), "888888");
  QTest::mouseClick(qobject_cast<QPushButton*>(dlg->control(idc::cancel)), Qt::LeftButton);
  EXPECT_EQ(dlg->result(), QDialog::Rejected);
  EXPECT_FALSE(dlg->isVisible());
  EXPECT_TRUE(bus.wire().empty());
}

}  // namespace
}  // namespace kbc::app
