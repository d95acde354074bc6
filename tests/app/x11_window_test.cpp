// What an X11 desktop sees of the windows: their titles exactly as set, and the desktop entry's
// id as the window class. Runs where the platform is xcb (CTest's runs on Xvfb); skipped elsewhere.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QMessageBox>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/password_dlg.h"
#include "frame_fixture.h"

namespace kbc::app {
namespace {

using X11Window = FrameFixture;

xcb_connection_t* connection() {
  const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(const char* name) {
  const auto cookie = xcb_intern_atom(connection(), 0, static_cast<uint16_t>(strlen(name)), name);
  const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
      xcb_intern_atom_reply(connection(), cookie, nullptr), &std::free);
  return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// A property of the window as the X server holds it.
QByteArray property(const QWidget& window, xcb_atom_t name, xcb_atom_t type) {
  const auto cookie = xcb_get_property(connection(), 0, static_cast<xcb_window_t>(window.winId()),
                                       name, type, 0, 1024);
  const std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
      xcb_get_property_reply(connection(), cookie, nullptr), &std::free);
  if (!reply) {
    return {};
  }
  return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                    xcb_get_property_value_length(reply.get()));
}

QString title_of(const QWidget& window) {
  return QString::fromUtf8(property(window, atom("_NET_WM_NAME"), atom("UTF8_STRING")));
}

TEST_F(X11Window, TitlesAreExactlyTheirOwnAndTheClassIsTheDesktopEntrysId) {
  if (!connection()) {
    GTEST_SKIP() << "not on X11";
  }
  EXPECT_EQ(title_of(*frame), QString::fromUtf8("执法记录仪管理软件(KBC-Q7)"));
  // WM_CLASS: the instance name, then the class.
  const QList<QByteArray> wm_class =
      property(*frame, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING).split('\0');
  ASSERT_GE(wm_class.size(), 2);
  EXPECT_EQ(wm_class[1], QByteArray("io.github.kbcq7.KbcQ7"));

  QMessageBox box(QMessageBox::Warning, QString::fromUtf8("清除所有文件"), QStringLiteral("?"),
                  QMessageBox::Yes | QMessageBox::No, frame.get());
  box.winId();
  EXPECT_EQ(title_of(box), QString::fromUtf8("清除所有文件"));

  console::g_passwordRole = static_cast<int>(console::PasswordRole::super);
  console::PasswordDialog logic(bus.link());
  CPasswordDlg dialog(frame.get(), logic);
  dialog.winId();
  EXPECT_EQ(title_of(dialog), QString::fromUtf8("管理员密码修改"));
}

}  // namespace
}  // namespace kbc::app
