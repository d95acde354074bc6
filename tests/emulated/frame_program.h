// What the programs that run the main window on the emulated bus share: the window on the real
// USB bus, headless, driven as the operator would.
#pragma once

#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QTest>
#include <iostream>
#include <memory>
#include <string>

#include "app/console_edit.h"
#include "app/main_frame.h"
#include "app/settings_bar.h"
#include "console/control_ids.h"
#include "journal/fields.h"
#include "journal/journal_trail.h"
#include "link/real_port.h"
#include "link/timing.h"
#include "link/trace.h"

namespace kbc::emulated {

// Before the QApplication: a test tool never shows a window on the desktop.
inline void go_headless() {
  qputenv("QT_QPA_PLATFORM", "offscreen");
}

// The window on the USB bus with what it talks through; the link's trace goes to standard error,
// and what its buttons do to a recorder to the system journal, as the window's own does.
struct WindowOnBus {
  link::RealPort port;
  link::RealPause pause;
  console::SystemClock clock;
  journal::JournalTrail trail{std::string(journal::kWindowIdentifier)};
  std::unique_ptr<app::CMainFrame> frame;

  // False, after saying why on standard error, when the window cannot be built.
  bool build(const char* program) {
    link::set_trace_sink([](std::string_view line) { std::cerr << line << '\n'; });
    QString error;
    const auto bar = app::settings_bar_template(&error);
    if (!bar) {
      std::cerr << program << ": " << error.toStdString() << '\n';
      return false;
    }
    frame = std::make_unique<app::CMainFrame>(*bar, link::Link{port, pause}, clock, &trail);
    return true;
  }
};

// Runs the event loop until the console thread has done all it was given; the window answers
// meanwhile.
inline void settle(app::CMainFrame& frame) {
  if (!frame.busy()) {
    return;
  }
  QEventLoop done;
  QObject::connect(&frame, &app::CMainFrame::idle, &done, &QEventLoop::quit);
  done.exec();
}

// PASSWORD typed into the password field and "验证密码" clicked, until the click has run.
inline void verify(app::CMainFrame& frame, const QString& password) {
  app::SettingsBar& bar = *frame.settings_bar();
  bar.field(idc::password)->clear();
  QTest::keyClicks(bar.field(idc::password), password);
  QTest::mouseClick(bar.button(idc::verify), Qt::LeftButton);
  settle(frame);
}

}  // namespace kbc::emulated
