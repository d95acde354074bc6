#include "app/console_thread.h"

#include <QThread>
#include <algorithm>

namespace kbc::app {

ConsoleThread::ConsoleThread(QObject* parent) : QObject(parent), thread_([this] { loop(); }) {}

ConsoleThread::~ConsoleThread() {
  stop();
}

void ConsoleThread::post(Job job) {
  enqueue(std::move(job), false);
}

void ConsoleThread::post_in_modal(Job job) {
  enqueue(std::move(job), true);
}

void ConsoleThread::enqueue(Job job, bool in_modal) {
  {
    const std::lock_guard lock(mutex_);
    Level& level = in_modal ? levels_.back() : levels_.front();
    if (stopping_ || level.closed) {
      return;
    }
    level.jobs.push_back(std::move(job));
  }
  ++pending_;
  console_wake_.notify_all();
}

void ConsoleThread::drop_queued() {
  std::size_t dropped = 0;
  {
    const std::lock_guard lock(mutex_);
    dropped = levels_.front().jobs.size();
    levels_.front().jobs.clear();
  }
  forget(dropped);
}

void ConsoleThread::stop() {
  std::size_t dropped = 0;
  {
    const std::lock_guard lock(mutex_);
    if (stopping_) {
      return;
    }
    stopping_ = true;
    for (Level& level : levels_) {
      dropped += level.jobs.size();
      level.jobs.clear();
    }
  }
  console_wake_.notify_all();
  forget(dropped);
  // The running job may still need the window; this thread serves it until the job is done.
  serve_until([this] { return !running_; });
  thread_.join();
  pending_ = 0;
}

void ConsoleThread::end_modal() {
  std::size_t dropped = 0;
  {
    const std::lock_guard lock(mutex_);
    if (levels_.size() < 2) {
      return;
    }
    Level& modal = levels_.back();
    dropped = modal.jobs.size();
    modal.jobs.clear();
    modal.closed = true;
  }
  forget(dropped);
  serve_until([this] { return !modal_running_; });
}

void ConsoleThread::serve_until(const std::function<bool()>& done) {
  while (true) {
    std::unique_lock lock(mutex_);
    ui_wake_.wait(lock, [&] { return !ui_calls_.empty() || done(); });
    if (ui_calls_.empty()) {
      return;
    }
    lock.unlock();
    serve_ui_calls();
  }
}

void ConsoleThread::on_ui(const std::function<void()>& call) {
  if (QThread::currentThread() == thread()) {
    call();
    return;
  }
  UiCall item{&call};
  {
    const std::lock_guard lock(mutex_);
    ui_calls_.push_back(&item);
  }
  ui_wake_.notify_all();
  QMetaObject::invokeMethod(this, &ConsoleThread::serve_ui_calls, Qt::QueuedConnection);
  std::unique_lock lock(mutex_);
  console_wake_.wait(lock, [&item] { return item.done; });
}

void ConsoleThread::on_ui_serving(const std::function<void()>& call) {
  UiCall item{&call};
  {
    const std::lock_guard lock(mutex_);
    levels_.emplace_back();
    ui_calls_.push_back(&item);
  }
  ui_wake_.notify_all();
  QMetaObject::invokeMethod(this, &ConsoleThread::serve_ui_calls, Qt::QueuedConnection);
  std::unique_lock lock(mutex_);
  while (true) {
    console_wake_.wait(lock, [&] { return item.done || !levels_.back().jobs.empty(); });
    if (item.done) {
      break;
    }
    Job job = std::move(levels_.back().jobs.front());
    levels_.back().jobs.pop_front();
    modal_running_ = true;
    lock.unlock();
    run(job);
    lock.lock();
    modal_running_ = false;
    ui_wake_.notify_all();
  }
  const std::size_t dropped = levels_.back().jobs.size();
  levels_.pop_back();
  lock.unlock();
  if (dropped > 0) {
    QMetaObject::invokeMethod(
        this, [this, dropped] { forget(dropped); }, Qt::QueuedConnection);
  }
}

void ConsoleThread::loop() {
  while (true) {
    Job job;
    {
      std::unique_lock lock(mutex_);
      console_wake_.wait(lock, [this] { return stopping_ || !levels_.front().jobs.empty(); });
      if (levels_.front().jobs.empty()) {
        return;
      }
      job = std::move(levels_.front().jobs.front());
      levels_.front().jobs.pop_front();
      running_ = true;
    }
    run(job);
    {
      const std::lock_guard lock(mutex_);
      running_ = false;
    }
    ui_wake_.notify_all();
  }
}

void ConsoleThread::run(Job& job) {
  QMetaObject::invokeMethod(this, &ConsoleThread::job_started, Qt::QueuedConnection);
  job();
  QMetaObject::invokeMethod(
      this,
      [this] {
        emit job_finished();
        forget(1);
      },
      Qt::QueuedConnection);
}

void ConsoleThread::serve_ui_calls() {
  while (true) {
    UiCall* item = nullptr;
    {
      const std::lock_guard lock(mutex_);
      if (ui_calls_.empty()) {
        return;
      }
      item = ui_calls_.front();
      ui_calls_.pop_front();
    }
    (*item->call)();
    {
      const std::lock_guard lock(mutex_);
      item->done = true;
    }
    console_wake_.notify_all();
  }
}

void ConsoleThread::forget(std::size_t jobs) {
  if (jobs == 0) {
    return;
  }
  pending_ -= std::min(jobs, pending_);
  if (pending_ == 0) {
    emit idle();
  }
}

}  // namespace kbc::app
