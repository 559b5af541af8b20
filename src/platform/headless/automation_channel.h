// The automation interface's wire: JSON Lines (UTF-8) in on a file descriptor, JSON
// Lines out on a stream, one object per line, flushed at once.
//
// Input lines are read on a reader thread and handed to the main loop, where they are
// dispatched one after the other; {"wait": MS} keeps the loop running that long before
// the next line is taken. Answers for dialogs are queued here until a dialog opens.
#ifndef LUMORA_PLATFORM_HEADLESS_AUTOMATION_CHANNEL_H_
#define LUMORA_PLATFORM_HEADLESS_AUTOMATION_CHANNEL_H_

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>

#include "base/status.h"
#include "base/unique_file.h"
#include "os/main_loop.h"

namespace platform {

class AutomationChannel {
 public:
  using Json = nlohmann::json;
  // Handles one input object: OK when it was understood; otherwise the message of the
  // Status is the text of the error line sent back.
  using Dispatcher = std::function<base::Status(const Json&)>;

  // Limits on input: longer lines, deeper values and longer waits are refused with an
  // error line and skipped.
  static constexpr std::size_t kMaxLineBytes = 16u << 20;
  static constexpr int kMaxDepth = 64;
  static constexpr unsigned kMaxWaitMs = 2147483647;
  // The reader stops reading while lines of this many bytes wait to be handled.
  static constexpr std::size_t kMaxQueuedBytes = 64u << 20;

  AutomationChannel(os::MainLoop& loop, int in_fd, std::FILE* out);
  ~AutomationChannel();
  AutomationChannel(const AutomationChannel&) = delete;
  AutomationChannel& operator=(const AutomationChannel&) = delete;

  // Starts reading. |dispatch| gets every object but "answer" and "wait";
  // |end_of_input| runs when the input has ended and every line before it was handled.
  // A channel made with an |in_fd| below zero reads nothing: its lines come through Feed.
  void Start(Dispatcher dispatch, std::function<void()> end_of_input);

  // Takes |line| (without its line end) as if it had been read, and handles it and every
  // line waiting before it now, unless a "wait" holds them back. Main thread only.
  void Feed(std::string line);

  // Writes one object as a line. Safe from any thread.
  void Emit(const Json& event);
  void EmitError(const std::string& message);

  // The answer queued for the next dialog, if any.
  std::optional<Json> TakeAnswer();

 private:
  // The reader thread: reads lines until the input ends or the channel goes away.
  void ReadLoop();
  // Reads and delivers lines; true when the channel is going away, false when the
  // input has ended.
  bool ReadLines();
  // A line of input, or nullopt for a line that passed kMaxLineBytes.
  void OnLine(std::optional<std::string> line);
  void OnEndOfInput();
  void Pump();
  static int OnWaitOver(void* data) noexcept;

  os::MainLoop& loop_;
  int in_fd_;
  std::FILE* out_;
  // Written once to wake the reader when the channel goes away.
  base::UniqueFd stop_fd_;
  std::thread reader_;
  std::mutex out_mutex_;
  // Bytes of lines read and not yet handled, shared by the reader and the main loop.
  std::mutex queue_mutex_;
  std::condition_variable queue_room_;
  std::size_t queued_bytes_ = 0;
  bool stopping_ = false;

  // Main-thread state.
  Dispatcher dispatch_;
  std::function<void()> end_of_input_;
  struct Pending {
    enum Kind { kLine, kOverlong, kEnd } kind;
    std::string line;
  };
  std::deque<Pending> pending_;
  std::deque<Json> answers_;
  unsigned wait_source_ = 0;
  bool pumping_ = false;
};

}  // namespace platform

#endif  // LUMORA_PLATFORM_HEADLESS_AUTOMATION_CHANNEL_H_
