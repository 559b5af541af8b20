// A restartable worker thread: Start runs Run on a thread of its own, Wait blocks until
// that run has ended and joins it. An object that never ran waits for nothing. The
// derived class's destructor must Wait before its members go.
#ifndef LUMORA_NET_NUVEX_THREAD_H_
#define LUMORA_NET_NUVEX_THREAD_H_

#include <condition_variable>
#include <mutex>
#include <thread>

namespace net {

class CNuvexThread {
 public:
  CNuvexThread() = default;
  virtual ~CNuvexThread();
  CNuvexThread(const CNuvexThread&) = delete;
  CNuvexThread& operator=(const CNuvexThread&) = delete;

  // Starts a thread that runs Run, unless one is held; true when a thread is held.
  [[nodiscard]] bool Start();
  // Waits until the current run (if any) has ended, then joins its thread.
  void Wait();

 protected:
  // The work, on the worker thread.
  virtual void Run() = 0;

 private:
  std::mutex mutex_;
  std::condition_variable done_changed_;
  bool done_ = true;
  std::thread thread_;
};

}  // namespace net

#endif  // LUMORA_NET_NUVEX_THREAD_H_
