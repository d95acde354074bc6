// kbc_bare_window [--text]: a bare Qt 6 main window of the frame's size, the yardstick of the
// window's start-up in kbc_start_benchmark; with --text it shows the title in Chinese as a label,
// the least a Chinese window pays for its fonts.
#include <QApplication>
#include <QLabel>
#include <QMainWindow>

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QMainWindow window;
  window.setFixedSize(828, 600);
  if (application.arguments().contains(QStringLiteral("--text"))) {
    window.setCentralWidget(new QLabel(QStringLiteral("执法记录仪管理软件(KBC-Q7)"), &window));
  }
  window.show();
  return application.exec();
}
