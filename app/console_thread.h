// The console's own thread. Every console call runs on it, one at a time and in the order posted,
// so the console and the link stay single-threaded while the window keeps painting and answering.
// Whatever a job asks of the window is carried to the user-interface thread and waited for there.
#pragma once

#include <QObject>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <vector>

namespace kbc::app {

class ConsoleThread final : public QObject {
  Q_OBJECT

 public:
  using Job = std::function<void()>;

  // Lives on the thread that makes it, the user-interface thread; starts the console thread.
  explicit ConsoleThread(QObject* parent = nullptr);
  // stop().
  ~ConsoleThread() override;

  // User-interface thread. Queues a job behind the queued ones.
  void post(Job job);
  // User-interface thread. For a modal window opened through on_ui_serving: queues a job that
  // runs while the window is open, ahead of the jobs queued with post().
  void post_in_modal(Job job);
  // User-interface thread. Drops the queued jobs; a running one goes on.
  void drop_queued();
  // User-interface thread. Whether a job is queued or running.
  bool busy() const { return pending_ > 0; }
  // User-interface thread. Drops the queued jobs, lets the running one finish (what it asks of
  // the window is still answered meanwhile) and ends the thread. Later posts are dropped.
  void stop();

  // Runs `call` on the user-interface thread and waits for it; at once when already there.
  void on_ui(const std::function<void()>& call);
  // on_ui for a call with a result.
  template <class F>
  std::invoke_result_t<F&> carry(F&& call) {
    using Result = std::invoke_result_t<F&>;
    if constexpr (std::is_void_v<Result>) {
      on_ui(call);
    } else {
      std::optional<Result> result;
      on_ui([&] { result.emplace(call()); });
      return *std::move(result);
    }
  }
  // Console thread. As on_ui, for a call that runs a modal window: while it is open, runs the
  // jobs the window posts with post_in_modal().
  void on_ui_serving(const std::function<void()>& call);
  // User-interface thread, by the modal window before it goes away: drops its queued jobs, lets
  // its running one finish (serving what it asks of the window) and refuses its later ones.
  void end_modal();

 signals:
  // On the user-interface thread, in the order of the jobs.
  void job_started();
  void job_finished();
  // No job is queued or running any more.
  void idle();

 private:
  struct UiCall {
    const std::function<void()>* call;
    bool done = false;
  };

  // The jobs of the main queue, or of a modal window's.
  struct Level {
    std::deque<Job> jobs;
    bool closed = false;
  };

  void enqueue(Job job, bool in_modal);
  void loop();
  // User-interface thread: serves calls until `done` holds; under the lock.
  void serve_until(const std::function<bool()>& done);
  void run(Job& job);
  // User-interface thread: runs the calls waiting there.
  void serve_ui_calls();
  void forget(std::size_t jobs);  // user-interface thread

  std::mutex mutex_;
  std::condition_variable console_wake_;  // a job, a finished call or the stop
  std::condition_variable ui_wake_;       // a call to serve, or the running job's end, in stop()
  std::vector<Level> levels_{1};
  std::deque<UiCall*> ui_calls_;
  bool running_ = false;        // a job of the main queue
  bool modal_running_ = false;  // a job of a modal window
  bool stopping_ = false;
  std::size_t pending_ = 0;  // user-interface thread only
  std::thread thread_;
};

}  // namespace kbc::app
