// A shown main frame on the simulated recorder, and the means to wait for its console thread and
// to answer its modal windows.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QThread>
#include <QTimer>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "app/console_edit.h"
#include "app/info_view.h"
#include "app/main_frame.h"
#include "app/settings_bar.h"
#include "console/control_ids.h"
#include "link/trace.h"
#include "settle.h"
#include "sim/sim_bus.h"

namespace kbc::app {

class FixedClock final : public console::Clock {
 public:
  link::LocalTime now() override { return {2024, 6, 5, 7, 8, 9}; }
};

// The console's pauses: never slept, each noting the cursor the window shows meanwhile and
// whether it came from the console thread, then running what a test hooked on it. A profile's
// recorders pause on threads of their own, at once.
class WatchedPause final : public link::Pause {
 public:
  void pause(std::chrono::milliseconds) override {
    const bool off_ui = QThread::currentThread() != qApp->thread();
    std::function<void()> once;
    {
      const std::lock_guard lock(mutex_);
      off_ui_thread.push_back(off_ui);
      if (!frame) {
        return;
      }
      once = std::exchange(hook, {});
    }
    const Qt::CursorShape shape = frame->console_thread().carry([] {
      const QCursor* cursor = QApplication::overrideCursor();
      return cursor ? cursor->shape() : Qt::ArrowCursor;
    });
    {
      const std::lock_guard lock(mutex_);
      shapes.push_back(shape);
    }
    if (once) {
      // Once: the hook runs on the user-interface thread, as the operator's input would.
      frame->console_thread().carry(once);
    }
  }

  CMainFrame* frame = nullptr;
  std::function<void()> hook;
  std::vector<Qt::CursorShape> shapes;
  std::vector<bool> off_ui_thread;

 private:
  std::mutex mutex_;
};

// Runs the event loop until every console call queued so far has run.
inline void settle(CMainFrame& frame) {
  settle(frame, &CMainFrame::idle);
}

// The window hears what the simulated bus told it, and its console thread has done what it asked.
inline void hear_bus(CMainFrame& frame) {
  QCoreApplication::sendPostedEvents();
  settle(frame);
}

// While it lives: each modal window that comes up goes to the next answer, which has to close
// it.
class ModalAnswers {
 public:
  explicit ModalAnswers(std::vector<std::function<void(QWidget*)>> answers)
      : answers_(std::move(answers)) {
    QObject::connect(&poll_, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal || modal == last_ || next_ >= answers_.size()) {
        return;
      }
      last_ = modal;
      answers_[next_++](modal);
    });
    poll_.start(0);
  }
  std::size_t answered() const { return next_; }

 private:
  std::vector<std::function<void(QWidget*)>> answers_;
  std::size_t next_ = 0;
  QWidget* last_ = nullptr;
  QTimer poll_;
};

class FrameFixture : public ::testing::Test {
 protected:
  FrameFixture() : previous_trace_(link::set_trace_sink({})) {}
  ~FrameFixture() override {
    frame.reset();
    link::set_trace_sink(previous_trace_);
  }

  void SetUp() override {
    QString error;
    const auto dialog = settings_bar_template(&error);
    ASSERT_TRUE(dialog) << error.toStdString();
    frame = std::make_unique<CMainFrame>(*dialog, link::Link{bus, pause}, clock);
    frame->follow(bus);
    pause.frame = frame.get();
    frame->show();
    settle(*frame);
  }

  SettingsBar* bar() const { return frame->settings_bar(); }
  QLineEdit* field(int id) const { return bar()->field(id); }
  QString last_line() const { return frame->info_view()->document()->lastBlock().text(); }
  QStringList lines() const {
    return frame->info_view()->toPlainText().split(u'\n', Qt::SkipEmptyParts);
  }
  // A click as the operator makes it; the console runs it later.
  void click(int id) const { QTest::mouseClick(bar()->button(id), Qt::LeftButton); }
  void verify(const char* password) {
    field(idc::password)->clear();
    QTest::keyClicks(field(idc::password), QString::fromUtf8(password));
    click(idc::verify);
    settle(*frame);
  }

  link::TraceSink previous_trace_;
  sim::SimBus bus;
  sim::SimRecorder& recorder = bus.add_recorder();
  WatchedPause pause;
  FixedClock clock;
  std::unique_ptr<CMainFrame> frame;
};

}  // namespace kbc::app
