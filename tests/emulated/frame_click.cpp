// frame_click PASSWORD: the main window on the USB bus, headless, with PASSWORD typed into the
// password field and "验证密码" clicked, as the operator would. Prints what the information pane
// then holds ("pane: TEXT" per line) and the buttons' states ("enabled: IDS", "disabled: IDS").
// The link's trace goes to standard error.
#include <QTextBlock>
#include <iostream>
#include <string>

#include "app/info_view.h"
#include "frame_program.h"

namespace {

std::string ids(const kbc::app::SettingsBar& bar, bool enabled) {
  std::string text;
  for (const int id : bar.button_ids()) {
    if (bar.button(id)->isEnabled() == enabled) {
      text.append(" ").append(std::to_string(id));
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
  kbc::emulated::go_headless();
  QApplication application(argc, argv);
  kbc::emulated::WindowOnBus window;
  if (!window.build("frame_click")) {
    return 1;
  }
  kbc::app::CMainFrame& frame = *window.frame;
  frame.show();
  kbc::emulated::verify(frame, QString::fromUtf8(argv[1]));

  for (QTextBlock block = frame.info_view()->document()->begin(); block.isValid();
       block = block.next()) {
    if (!block.text().isEmpty()) {
      std::cout << "pane: " << block.text().toStdString() << '\n';
    }
  }
  const kbc::app::SettingsBar& bar = *frame.settings_bar();
  std::cout << "enabled:" << ids(bar, true) << '\n' << "disabled:" << ids(bar, false) << '\n';
  return 0;
}
