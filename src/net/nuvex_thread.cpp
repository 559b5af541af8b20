#include "net/nuvex_thread.h"

#include <system_error>

#include "base/callback_guard.h"

namespace net {

// A derived class waits in its own destructor; this one only joins a thread that has
// already ended, so that no std::thread is ever destroyed while joinable.
CNuvexThread::~CNuvexThread() { Wait(); }

bool CNuvexThread::Start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (thread_.joinable()) return true;
  // The done state is cleared before the thread exists, so a Wait that follows Start
  // always waits for this run.
  done_ = false;
  try {
    thread_ = std::thread([this] {
      // A run ends in its own result; what it throws is reported here, and the run still
      // counts as ended for those who wait for it.
      base::Guarded("a worker thread", [this] { Run(); });
      // Signalled under the lock: the waiter cannot see done_ and destroy the object
      // while the notification is still being made.
      std::lock_guard<std::mutex> done_lock(mutex_);
      done_ = true;
      done_changed_.notify_all();
    });
  } catch (const std::system_error&) {
    done_ = true;
    return false;
  }
  return true;
}

// Must not be called on the worker thread itself (a run cannot wait for its own end).
void CNuvexThread::Wait() {
  std::thread ended;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    done_changed_.wait(lock, [this] { return done_; });
    ended = std::move(thread_);
  }
  if (ended.joinable()) ended.join();
}

}  // namespace net
