// frame_click PASSWORD: the main window on the USB bus, headless, with PASSWORD typed into the
// password field and "验证密码" clicked, as the operator would. Prints what the information pane
// then holds ("pane: TEXT" per line) and the buttons' states ("enabled: IDS", "disabled: IDS").
// The link's trace goes to standard error.
#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <iostream>
#include <string>

#include "app/console_edit.h"
#include "app/info_view.h"
#include "app/main_frame.h"
#include "app/settings_bar.h"
#include "console/control_ids.h"
#include "link/real_port.h"
#include "link/timing.h"
#include "link/trace.h"

namespace {

std::string ids(const kbc::app::SettingsBar& bar, bool enabled) {
  std::string text;
  for (const int id : bar.button_ids()) {
    if (bar.button(id)->isEnabled() == enabled) {
      text += " " + std::to_string(id);
    }
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: frame_click PASSWORD\n";
    return 2;
  }
  // A test tool: it never shows a window on the desktop.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  kbc::link::set_trace_sink([](std::string_view line) { std::cerr << line << '\n'; });

  QString error;
  const auto bar_template = kbc::app::settings_bar_template(&error);
  if (!bar_template) {
    std::cerr << "frame_click: " << error.toStdString() << '\n';
    return 1;
  }
  kbc::link::RealPort port;
  kbc::link::RealPause pause;
  kbc::console::SystemClock clock;
  kbc::app::CMainFrame frame(*bar_template, kbc::link::Link{port, pause}, clock);
  frame.show();

  kbc::app::SettingsBar& bar = *frame.settings_bar();
  QTest::keyClicks(bar.field(kbc::idc::password), QString::fromUtf8(argv[1]));
  QTest::mouseClick(bar.button(kbc::idc::verify), Qt::LeftButton);
  // The click runs on the console thread; the window answers meanwhile.
  if (frame.busy()) {
    QEventLoop done;
    QObject::connect(&frame, &kbc::app::CMainFrame::idle, &done, &QEventLoop::quit);
    done.exec();
  }

  for (QTextBlock block = frame.info_view()->document()->begin(); block.isValid();
       block = block.next()) {
    if (!block.text().isEmpty()) {
      std::cout << "pane: " << block.text().toStdString() << '\n';
    }
  }
  std::cout << "enabled:" << ids(bar, true) << '\n' << "disabled:" << ids(bar, false) << '\n';
  return 0;
}
