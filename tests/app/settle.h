// Waiting, in the event loop, for work on the console thread to be done.
#pragma once

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QObject>
#include <QTimer>

namespace kbc::app {

// Runs the event loop until `sender` emits `idle`; at once when it is not busy.
template <class Sender, class Signal>
void settle(Sender& sender, Signal idle) {
  if (!sender.busy()) {
    return;
  }
  QEventLoop loop;
  QObject::connect(&sender, idle, &loop, &QEventLoop::quit);
  // Only a hung console ever meets this guard.
  QTimer::singleShot(20000, &loop, [&loop] {
    ADD_FAILURE() << "the console did not finish";
    loop.quit();
  });
  loop.exec();
}

}  // namespace kbc::app
