// The main loop of the user-interface thread, on GLib: the modal loop of the main
// window, its timers (with ids, as the window code names them), a thread-safe queue of
// posted messages drained on the loop, and the monotonic tick count.
#ifndef LUMORA_OS_MAIN_LOOP_H_
#define LUMORA_OS_MAIN_LOOP_H_

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

typedef struct _GMainLoop GMainLoop;

namespace os {

class MainLoop {
 public:
  MainLoop();
  ~MainLoop();
  MainLoop(const MainLoop&) = delete;
  MainLoop& operator=(const MainLoop&) = delete;

  // Runs until Quit; returns the code given to Quit.
  int Run();
  // Ends Run once the current handler returns. Main thread only.
  void Quit(int code);
  bool quitting() const { return quitting_; }

  // Calls |tick| every |interval_ms| until KillTimer(id); setting an id again replaces
  // the old timer. A tick may kill or replace its own timer. Main thread only.
  void SetTimer(unsigned id, unsigned interval_ms, std::function<void()> tick);
  void KillTimer(unsigned id);

  // Queues |message| to run on the loop's thread. Safe from any thread; messages run
  // in the order they were posted.
  void Post(std::function<void()> message);

  // Milliseconds of a monotonic clock.
  static std::uint64_t TickCount();

 private:
  struct Timer;
  struct LoopUnref {
    void operator()(GMainLoop* loop) const noexcept;
  };
  static int OnTimer(void* data) noexcept;
  static void OnTimerGone(void* data) noexcept;
  static int OnPosted(void* data) noexcept;
  // Runs the queued messages, in order, until the queue is empty.
  void DrainPosted();

  std::unique_ptr<GMainLoop, LoopUnref> loop_;
  int exit_code_ = 0;
  bool quitting_ = false;
  // Every timer whose GLib source still holds it, keyed by that source's id (a timer
  // killed within its own tick stays until the tick has returned, beside the timer that
  // may replace it under the same timer id). Only the source's destroy notify removes
  // an entry.
  std::map<unsigned, std::unique_ptr<Timer>> timers_;
  std::mutex posted_mutex_;
  std::deque<std::function<void()>> posted_;
  bool wake_pending_ = false;
};

}  // namespace os

#endif  // LUMORA_OS_MAIN_LOOP_H_
