// frame_offload STORE PASSWORD: the main window on the USB bus, headless, with PASSWORD typed into
// the password field and "导出当前记录仪的录像" chosen from its menu, as the operator would; the
// recorder's disk awaited through udev and read into STORE. Prints the pane's lines once every
// offload has finished ("pane: TEXT") and the offload panel's rows ("row: CELL | CELL ...").
#include <QTableWidget>
#include <QTextBlock>

#include "app/info_view.h"
#include "app/offload_panel.h"
#include "frame_program.h"
#include "offload/disk_watch.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: frame_offload STORE PASSWORD\n";
    return 2;
  }
  kbc::emulated::go_headless();
  QApplication application(argc, argv);
  kbc::emulated::WindowOnBus window;
  if (!window.build("frame_offload")) {
    return 1;
  }
  kbc::app::CMainFrame& frame = *window.frame;
  kbc::offload::UdevDiskWatch watch;
  frame.set_evidence(argv[1], {}, &watch, {});
  frame.show();
  kbc::emulated::settle(frame);
  QTest::keyClicks(frame.settings_bar()->field(kbc::idc::password), QString::fromUtf8(argv[2]));
  frame.start_offload(kbc::console::ApplyTo::chosen);
  kbc::emulated::settle(frame);
  if (kbc::app::OffloadPanel* panel = frame.offload_panel()) {
    if (panel->running()) {
      QEventLoop done;
      QObject::connect(panel, &kbc::app::OffloadPanel::idle, &done, &QEventLoop::quit);
      done.exec();
    }
    const QTableWidget& table = *panel->table();
    for (int row = 0; row < table.rowCount(); ++row) {
      std::string cells;
      for (int column = 0; column + 1 < table.columnCount(); ++column) {
        cells += (column ? " | " : "") + table.item(row, column)->text().toStdString();
      }
      std::cout << "row: " << cells << '\n';
    }
  }
  for (QTextBlock block = frame.info_view()->document()->begin(); block.isValid();
       block = block.next()) {
    if (!block.text().isEmpty()) {
      std::cout << "pane: " << block.text().toStdString() << '\n';
    }
  }
  return 0;
}
