// kbc_stall_benchmark: how long the window's event loop stalls at most while the slowest handler
// runs, "用户编号设置" with its refresh, against a recorder that takes every command and never
// answers: each reply waits out its whole 1000 ms time-out, in real time. Prints the largest gap
// between the ticks of a 5 ms timer on the user-interface thread, for two recorders: one that
// answers nothing (the handler ends at the password check) and one that answers only the
// password checks (the handler goes on to the record and the serial-number refresh).
// Exit status 1 when the handler did not end with its reports in order.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "app/console_edit.h"
#include "app/info_view.h"
#include "app/main_frame.h"
#include "app/settings_bar.h"
#include "console/control_ids.h"
#include "link/trace.h"
#include "sim/sim_bus.h"

namespace {

using namespace kbc;

// The simulated recorder's bus, whose recorder takes every command and never answers, except the
// password checks where `answers_passwords`.
class SilentRecorder final : public link::Port {
 public:
  explicit SilentRecorder(bool answers_passwords) : answers_passwords_(answers_passwords) {}

  void init() override { bus_.init(); }
  int find_busses() override { return bus_.find_busses(); }
  int find_devices() override { return bus_.find_devices(); }
  std::vector<link::UsbDevice> devices() override { return bus_.devices(); }
  std::unique_ptr<link::DeviceHandle> open(const link::UsbDevice& device) override {
    auto inner = bus_.open(device);
    return inner ? std::make_unique<Handle>(std::move(inner), answers_passwords_) : nullptr;
  }

 private:
  class Handle final : public link::DeviceHandle {
   public:
    Handle(std::unique_ptr<link::DeviceHandle> inner, bool answers_passwords)
        : inner_(std::move(inner)), answers_passwords_(answers_passwords) {}
    int set_configuration(int configuration) override {
      return inner_->set_configuration(configuration);
    }
    int claim_interface(int interface) override { return inner_->claim_interface(interface); }
    int clear_halt(unsigned endpoint) override { return inner_->clear_halt(endpoint); }
    int control_msg(int request_type, int request, int value, int index,
                    std::span<std::uint8_t> bytes, int timeout_ms) override {
      const bool in = (request_type & 0x80) != 0;
      if (!in) {
        letter_ = bytes.empty() ? 0 : static_cast<char>(bytes[0]);
      }
      if (answers_passwords_ && (letter_ == '3' || letter_ == '-')) {
        return inner_->control_msg(request_type, request, value, index, bytes, timeout_ms);
      }
      if (!in) {
        return static_cast<int>(bytes.size());
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
      return -ETIMEDOUT;
    }

   private:
    std::unique_ptr<link::DeviceHandle> inner_;
    bool answers_passwords_;
    char letter_ = 0;
  };

  sim::SimBus bus_{1};
  bool answers_passwords_;
};

struct Result {
  qint64 largest_gap_ms;
  qint64 handler_ms;
  QStringList lines;
  QStringList messages;
};

Result run(const app::DialogTemplate& bar_template, bool answers_passwords) {
  SilentRecorder recorder(answers_passwords);
  link::RealPause pause;
  console::SystemClock clock;
  app::CMainFrame frame(bar_template, link::Link{recorder, pause}, clock);
  frame.show();
  frame.settings_bar()->field(idc::password)->setText(QStringLiteral("888888"));
  frame.settings_bar()->field(idc::user_number_field)->setText(QStringLiteral("A17"));

  Result result{0, 0, {}, {}};
  QElapsedTimer clock_since_tick;
  QTimer ticks;
  QObject::connect(&ticks, &QTimer::timeout, [&] {
    result.largest_gap_ms = std::max(result.largest_gap_ms, clock_since_tick.restart());
    // The refresh's message box is answered as soon as it shows.
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      result.messages.push_back(box->text());
      box->button(QMessageBox::Ok)->click();
    }
  });
  QEventLoop done;
  QObject::connect(&frame, &app::CMainFrame::idle, &done, &QEventLoop::quit);
  // The status bar's reading of the serial number at the start is no part of the handler.
  if (frame.busy()) {
    done.exec();
  }
  QElapsedTimer handler;
  handler.start();
  clock_since_tick.start();
  ticks.start(5);
  // The button itself is locked until a verification, which this recorder never passes.
  emit frame.settings_bar()->command(idc::user_number);
  done.exec();
  ticks.stop();
  result.handler_ms = handler.elapsed();
  result.lines = frame.info_view()->toPlainText().split(u'\n', Qt::SkipEmptyParts);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication application(argc, argv);
  link::set_trace_sink({});
  QString error;
  const auto bar_template = app::settings_bar_template(&error);
  if (!bar_template) {
    std::fprintf(stderr, "kbc_stall_benchmark: %s\n", qPrintable(error));
    return 1;
  }
  const struct {
    const char* recorder;
    bool answers_passwords;
    QStringList lines;
    QStringList messages;
  } runs[] = {
      {"answers nothing", false, {QString::fromUtf8("密码错误!")}, {}},
      {"answers only the password checks",
       true,
       {QString::fromUtf8("重新连接!")},
       {QString::fromUtf8("重新连接!")}},
  };
  int status = 0;
  for (const auto& expected : runs) {
    const Result result = run(*bar_template, expected.answers_passwords);
    const bool in_order = result.lines == expected.lines && result.messages == expected.messages;
    std::printf("用户编号设置, recorder %s: handler %lld ms, longest UI stall %lld ms%s\n",
                expected.recorder, static_cast<long long>(result.handler_ms),
                static_cast<long long>(result.largest_gap_ms),
                in_order ? "" : " -- REPORTS NOT AS EXPECTED");
    if (!in_order) {
      std::printf("  pane: %s\n  messages: %s\n", qPrintable(result.lines.join(u'|')),
                  qPrintable(result.messages.join(u'|')));
      status = 1;
    }
  }
  return status;
}
