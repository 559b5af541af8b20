// One file transfer: an HTTP GET of one URL on a worker thread of its own, the body
// streamed to a local file in chunks of 1024 bytes, progress and the end reported to
// the owner through its notify function. Only plain http is fetched (redirects too).
//
// The notify function is called on the worker thread; the owner hands the message on
// to its own thread (the main loop) and there looks the transfer up by its id, which
// stays unique for the life of the process: a message never reaches a transfer that is
// gone.
#ifndef LUMORA_NET_INET_FILE_H_
#define LUMORA_NET_INET_FILE_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "net/nuvex_thread.h"

namespace net {

// The messages of a transfer: progress (bytes written since the last progress message,
// at least 1) and end (the result code).
enum class TransferMessage { kProgress = 1124, kEnd = 1125 };
using TransferNotify = std::function<void(TransferMessage message, int kind, std::uint32_t value,
                                          std::uint64_t transfer_id)>;

class CInetFile : public CNuvexThread {
 public:
  // What is fetched.
  enum Kind { kServerList = 0, kManifest = 1, kFile = 2 };
  // Result codes of a transfer.
  enum Result {
    kSuccess = 0,
    kBadUrl = 1,         // not parsed, or not http
    kInternetError = 2,  // no connection, no name, a broken or stalled transfer
    kNotFound = 6,       // the status was not 200
    kCannotCreate = 7,   // the local file cannot be made
    kCancelled = 8,
  };
  static constexpr std::size_t kChunk = 1024;
  static constexpr const char* kDefaultMessage = "连接服务器失败, 请选择其他服务器进行尝试";
  static constexpr const char* kUserAgent = "AutoUpdate_Nuvex";

  CInetFile();
  ~CInetFile() override;  // cancels and waits for the thread

  // The message of an error code (the default message for codes it does not know).
  static const char* MessageOf(int code);

  // Counts an attempt, waits for an earlier run, clears the cancel flag and starts.
  // True when a thread was started.
  [[nodiscard]] bool StartTransfer();
  // The text of the last failure (code page).
  std::string GetErrorMessage() const;
  // Stops the transfer after the current chunk (or within a second while nothing
  // arrives); a cancelled transfer sends no end message.
  void Cancel() { cancel_.store(true); }
  bool cancelled() const { return cancel_.load(); }

  std::uint64_t id() const { return id_; }
  // 0 to 10: the counter of transfers made in this process, modulo 11.
  int slot() const { return slot_; }
  std::uint32_t attempts() const { return attempts_.load(); }
  std::uint32_t bytes_received() const { return bytes_received_.load(); }
  std::uint32_t expected_length() const { return expected_length_.load(); }

  // Set by the owner before the transfer starts. Paths and texts in the code page.
  int kind = kFile;
  std::string url;
  std::string local_path;  // kind 2 writes local_path + ".update"
  TransferNotify notify;   // none: no messages
  bool status_callback = false;
  void set_expected_length(std::uint32_t length) { expected_length_.store(length); }
  // A transfer that receives nothing for this long fails with kInternetError.
  int stall_timeout_ms = 60000;

  // Owner data, carried for the owner only.
  std::string file_name;
  std::string server_label;
  std::string display_name;
  bool register_flag = false;
  bool unpack_flag = false;
  bool force_overwrite = false;
  bool execute_flag = false;
  std::string execute_parameters;

 protected:
  void Run() override;

 private:
  const std::uint64_t id_;
  const int slot_;
  std::atomic<bool> cancel_{false};
  std::atomic<std::uint32_t> attempts_{0};
  std::atomic<std::uint32_t> bytes_received_{0};
  std::atomic<std::uint32_t> expected_length_{0};
  mutable std::mutex message_mutex_;
  std::string error_message_ = kDefaultMessage;
};

}  // namespace net

#endif  // LUMORA_NET_INET_FILE_H_
