// The window wipes each copy it makes of a password it reads from a field, the ones made to carry
// the read to the console thread included: no block the user-interface thread gives back holds the
// password as UTF-8, the form of the window's own copies (the widgets hold theirs in UTF-16).
#include <gtest/gtest.h>

#include <QMessageBox>
#include <QPushButton>

#include "app/password_dlg.h"
#include "frame_fixture.h"
#include "freed_blocks.h"

namespace kbc::app {
namespace {

// Passwords that nothing else in the window holds.
constexpr const char* kAdmin = "Qz8Wm3";
constexpr const char* kNew = "Xv5Tn1";

class PasswordWipe : public FrameFixture {
 protected:
  void SetUp() override {
    if (!FreedBlockWatch::available()) {
      GTEST_SKIP() << "free() belongs to AddressSanitizer here";
    }
    recorder.state().admin_password = kAdmin;
    FrameFixture::SetUp();
  }
};

TEST_F(PasswordWipe, TheSettingsBarsPasswordTypedAndVerified) {
  const FreedBlockWatch watch(kAdmin);
  verify(kAdmin);
  EXPECT_EQ(last_line(), QString::fromUtf8("成功设置系统时间:2024-6-5 7:8:9"));
  EXPECT_EQ(watch.found(), 0);
}

TEST_F(PasswordWipe, ThePasswordDialogsThreeFields) {
  verify(kAdmin);
  const FreedBlockWatch watch(kNew);
  const ModalAnswers on_modal({
      [](QWidget* dialog) {
        auto* dlg = qobject_cast<CPasswordDlg*>(dialog);
        ASSERT_NE(dlg, nullptr);
        for (const int id : {idc::old_password, idc::new_password, idc::confirm_password}) {
          QTest::keyClicks(dlg->control(id), id == idc::old_password ? kAdmin : kNew);
        }
        QTest::mouseClick(qobject_cast<QPushButton*>(dlg->control(idc::confirm_super)),
                          Qt::LeftButton);
      },
      [](QWidget* box) { qobject_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click(); },
  });
  click(idc::change_password);
  settle(*frame);
  ASSERT_EQ(on_modal.answered(), 2u);
  EXPECT_EQ(recorder.state().admin_password, kNew);
  EXPECT_EQ(watch.found(), 0);
}

}  // namespace
}  // namespace kbc::app
