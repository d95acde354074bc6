// frame_drawer FIFO STEP...: the main window on the USB bus, headless, following udev, driven as
// the operator and the hub would. It prints what its status bar says at the start and after each
// step ("status: TEXT"), and the pane's newest line after each click ("pane: TEXT"). The steps:
//   "add ..." and "remove ..."  written to FIFO (the bus's --control), one command a line; the
//                               step ends when the window has heard of a recorder ("heard:
//                               LOCATION") and shown what it then found
//   "pick N"                    the operator picks item N (from 0) of the status bar's list with
//                               the arrow keys
//   "verify PASSWORD"           PASSWORD typed into the password field and "验证密码" clicked
// Exits 1 when an event does not come within 10 seconds, 2 on a bad command line.
#include <QComboBox>
#include <QLabel>
#include <QTextBlock>
#include <QTimer>
#include <fstream>
#include <iostream>
#include <string>

#include "app/info_view.h"
#include "app/recorder_picker.h"
#include "app/usb_monitor.h"
#include "frame_program.h"

namespace {

using kbc::app::CMainFrame;
using kbc::emulated::settle;

constexpr int kWaitMs = 10000;

// What the status bar says: the label, then the list's items with the picked one in brackets.
std::string status(const kbc::app::RecorderPicker& picker) {
  std::string text = picker.label()->text().toStdString();
  const QComboBox& list = *picker.list();
  if (list.isHidden()) {
    return text;
  }
  text += " |";
  for (int i = 0; i < list.count(); ++i) {
    const std::string item = list.itemText(i).toStdString();
    text += i == list.currentIndex() ? " [" + item + "]" : " " + item;
  }
  return text;
}

// Writes the command to the bus and waits until the window has heard its event and the console
// thread has shown what it found.
bool plug(CMainFrame& frame, const char* fifo, const std::string& command) {
  const auto* monitor = frame.findChild<kbc::app::UsbMonitor*>();
  QEventLoop heard;
  bool came = false;
  QObject::connect(monitor, &kbc::app::UsbMonitor::recorder_plugged, &heard,
                   [&](const QString& location) {
                     if (!came) {
                       std::cout << "heard: " << location.toStdString() << '\n';
                     }
                     came = true;
                     heard.quit();
                   });
  QTimer::singleShot(kWaitMs, &heard, &QEventLoop::quit);
  std::ofstream(fifo) << command << '\n';
  heard.exec();
  if (!came) {
    std::cout << "no event within " << kWaitMs << " ms\n";
    return false;
  }
  // The window queued its refresh as it heard the event.
  settle(frame);
  return true;
}

void pick(CMainFrame& frame, int index) {
  QComboBox& list = *frame.recorder_picker()->list();
  while (list.isVisible() && index < list.count() && list.currentIndex() != index) {
    QTest::keyClick(&list, list.currentIndex() < index ? Qt::Key_Down : Qt::Key_Up);
  }
  settle(frame);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: frame_drawer FIFO STEP...\n";
    return 2;
  }
  kbc::emulated::go_headless();
  QApplication application(argc, argv);
  kbc::emulated::WindowOnBus window;
  if (!window.build("frame_drawer")) {
    return 1;
  }
  CMainFrame& frame = *window.frame;
  if (QString why; !frame.follow_udev(&why)) {
    std::cerr << "frame_drawer: cannot hear udev: " << why.toStdString() << '\n';
    return 1;
  }
  frame.show();
  settle(frame);
  std::cout << "status: " << status(*frame.recorder_picker()) << '\n';

  for (int i = 2; i < argc; ++i) {
    const std::string step = argv[i];
    if (step.starts_with("add ") || step.starts_with("remove ")) {
      if (!plug(frame, argv[1], step)) {
        return 1;
      }
    } else if (step.starts_with("pick ")) {
      pick(frame, std::stoi(step.substr(5)));
    } else if (step.starts_with("verify ")) {
      kbc::emulated::verify(frame, QString::fromStdString(step.substr(7)));
      std::cout << "pane: " << frame.info_view()->document()->lastBlock().text().toStdString()
                << '\n';
      continue;
    } else {
      std::cerr << "frame_drawer: unknown step '" << step << "'\n";
      return 2;
    }
    std::cout << "status: " << status(*frame.recorder_picker()) << '\n';
  }
  return 0;
}
