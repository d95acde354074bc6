#include "app/console_thread.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QThread>
#include <future>
#include <string>
#include <vector>

#include "settle.h"

namespace kbc::app {
namespace {

void settle(ConsoleThread& thread) {
  settle(thread, &ConsoleThread::idle);
}

bool on_ui_thread() {
  return QThread::currentThread() == qApp->thread();
}

TEST(ConsoleThread, RunsJobsOneAfterTheOtherOffTheUiThreadAndCarriesCallsBack) {
  ConsoleThread thread;
  std::vector<std::string> log;  // written by the jobs, read here only once they are done
  int started = 0;
  int finished = 0;
  QObject::connect(&thread, &ConsoleThread::job_started, [&] { ++started; });
  QObject::connect(&thread, &ConsoleThread::job_finished, [&] { ++finished; });
  for (const char* name : {"a", "b", "c"}) {
    thread.post([&, name] {
      log.push_back(std::string(name) + (on_ui_thread() ? " on ui" : " off ui"));
      const bool there = thread.carry([] { return on_ui_thread(); });
      log.push_back(std::string(name) + (there ? " carried to ui" : " not carried"));
    });
  }
  EXPECT_TRUE(thread.busy());
  settle(thread);
  EXPECT_FALSE(thread.busy());
  EXPECT_EQ(log, (std::vector<std::string>{"a off ui", "a carried to ui", "b off ui",
                                           "b carried to ui", "c off ui", "c carried to ui"}));
  EXPECT_EQ(started, 3);
  EXPECT_EQ(finished, 3);
  // On the user-interface thread a carried call runs at once.
  EXPECT_EQ(thread.carry([] { return 42; }), 42);
}

TEST(ConsoleThread, DroppingLetsTheRunningJobFinish) {
  ConsoleThread thread;
  std::vector<int> ran;
  thread.post([&] {
    // While the first job runs, the window drops what is queued behind it.
    thread.carry([&] { thread.drop_queued(); });
    ran.push_back(1);
  });
  thread.post([&] { ran.push_back(2); });
  settle(thread);
  EXPECT_EQ(ran, std::vector<int>{1});
  thread.post([&] { ran.push_back(3); });
  settle(thread);
  EXPECT_EQ(ran, (std::vector<int>{1, 3}));
}

TEST(ConsoleThread, StoppingServesTheRunningJobsCallsAndDropsTheRest) {
  std::vector<int> ran;
  {
    ConsoleThread thread;
    QEventLoop first_running;
    std::promise<void> stopping;
    thread.post([&] {
      thread.carry([&] { first_running.quit(); });
      // Still needs the window after the window has begun to stop.
      stopping.get_future().wait();
      thread.carry([&] { ran.push_back(1); });
    });
    thread.post([&] { ran.push_back(2); });
    first_running.exec();
    stopping.set_value();
    thread.stop();
    EXPECT_FALSE(thread.busy());
    thread.post([&] { ran.push_back(3); });
    EXPECT_FALSE(thread.busy());
  }
  EXPECT_EQ(ran, std::vector<int>{1});
}

TEST(ConsoleThread, AModalWindowsJobsRunWhileItIsOpenAndNeverAfter) {
  ConsoleThread thread;
  std::vector<std::string> log;
  thread.post([&] {
    log.push_back("dialog opens");
    thread.on_ui_serving([&] {
      // A modal window: its clicks are jobs, run while it is open, before the jobs queued
      // behind the one that opened it.
      QEventLoop open;
      thread.post([&] { log.push_back("queued click"); });
      thread.post_in_modal([&] { log.push_back("click in dialog"); });
      thread.post_in_modal([&] { thread.carry([&] { open.quit(); }); });
      open.exec();
      thread.end_modal();
      thread.post_in_modal([&] { log.push_back("click after close"); });
    });
    log.push_back("dialog closed");
  });
  settle(thread);
  EXPECT_EQ(log, (std::vector<std::string>{"dialog opens", "click in dialog", "dialog closed",
                                           "queued click"}));
}

}  // namespace
}  // namespace kbc::app
