// One file transfer: an HTTP GET of one URL on a worker thread of its own, the body
// streamed to a local file as it arrives (the cancel flag read after every 1024 bytes),
// progress and the end reported to the owner through its notify function. Only http and
// https are fetched; https verifies the server's certificate and name against the trust
// store (SSL_CERT_FILE and SSL_CERT_DIR when set), and a redirect may lead from http to
// https but never back to http nor to another scheme.
//
// The notify function is called on the worker thread; the owner hands the message on
// to its own thread (the main loop) and there looks the transfer up by its id, which
// stays unique for the life of the process: a message never reaches a transfer that is
// gone.
#ifndef LUMORA_NET_INET_FILE_H_
#define LUMORA_NET_INET_FILE_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "base/unique_file.h"
#include "net/nuvex_thread.h"

namespace net {

// The messages of a transfer: progress (bytes written since the last progress message,
// at least 1; at most one every CInetFile::kProgressInterval, and whatever is left
// before the run ends) and end (the result code).
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
    kBadUrl = 1,         // not parsed, or neither http nor https
    kInternetError = 2,  // no connection, no name, a broken or stalled transfer, a
                         // certificate that does not verify, a redirect refused
    kNotFound = 6,       // the status was not 200, or the answer passed body_limit
    kCannotCreate = 7,   // the local file cannot be made
    kCancelled = 8,
  };
  static constexpr std::size_t kChunk = 1024;
  // Bytes written within this time of a progress message wait for the next one: an
  // owner's loop is woken a few times a second, not once per read.
  static constexpr std::chrono::milliseconds kProgressInterval{50};
  static constexpr const char* kDefaultMessage = "连接服务器失败, 请选择其他服务器进行尝试";
  static constexpr const char* kUserAgent = "AutoUpdate_Nuvex";
  // Kind 2's body is named after the local path with this appended.
  static constexpr const char* kBodySuffix = ".update";

  CInetFile();
  ~CInetFile() override;  // cancels and waits for the thread

  // The message of an error code (the default message for codes it does not know).
  static const char* MessageOf(int code);
  // Removes the partial file of |local_path| and its validator. False when a transfer
  // (of this process or another) is writing it: stop that one first.
  static bool RemovePartial(const std::string& local_path);

  // Counts an attempt, waits for an earlier run, clears the cancel flag and starts.
  // True when a thread was started.
  [[nodiscard]] bool StartTransfer();
  // The text of the last failure (code page).
  std::string GetErrorMessage() const;
  // The HTTP status of the last run's last answer (a 401 the credentials did not end,
  // among others); 0 when none came.
  long http_status() const { return http_status_.load(); }
  // Kind 2, after a run that succeeded: the file holding the body (a native path),
  // locked until the transfer lets it go. The transfer removes it when it is started
  // again or deleted, unless the owner took it first. Empty otherwise.
  std::string body_path() const;
  // The owner has moved the body into place: the transfer no longer removes it.
  void BodyTaken();
  // A body handed over whole: its path, the descriptor that holds its lock, and the
  // folders made for it (outermost first). Discard removes the file and those folders
  // (when empty); the lock goes with the object.
  struct KeptBody {
    std::string path;
    base::UniqueFd lock;
    std::vector<std::string> made_folders;
    void Discard();
  };
  // Kind 2, after a run that succeeded: the body, handed over; the transfer no longer
  // removes it. An empty path when there is none.
  KeptBody TakeBody();
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
  // Kinds 0 and 1 write the body to local_path itself. Kind 2 writes it to a new file of
  // its own beside local_path, "." + NAME + ".update." + six letters or digits, made
  // exclusively, so that no two transfers (of this process or another) ever write the
  // same file; a run that does not succeed removes it. With |resume| it goes to the
  // partial file instead (net::PartialPathFor).
  std::string local_path;
  // Kind 2: the body goes to the partial file net::PartialPathFor(local_path), locked while
  // it is written (a partial file another transfer writes fails the run with
  // kCannotCreate), with the validator the server gave (ETag, else Last-Modified) kept
  // beside it. A run that fails or is cancelled keeps what the partial file holds (an
  // empty one goes); the next run asks for the rest ("Range: bytes=SIZE-" with
  // "If-Range: VALIDATOR") and appends a 206 that continues it, while a 200 fills it
  // again from zero, and any other answer to the range (a 416, a 206 of other bytes)
  // is followed by one request for the whole file. Progress counts the whole file:
  // bytes_received starts at the bytes already there, expected_length is the file's
  // size. A run that succeeds hands the partial file over as body_path/TakeBody.
  bool resume = false;
  TransferNotify notify;  // none: no messages
  // Kind 2: the missing folders above local_path are made when the body is about to be
  // written; those made are removed again (when empty) with a body that is not kept.
  bool make_folders = false;
  // An answer of more bytes than this (0: no limit) ends the transfer with kNotFound
  // once it is announced or its body passes the limit; the file is left empty.
  std::uint64_t body_limit = 0;
  bool status_callback = false;
  void set_expected_length(std::uint32_t length) { expected_length_.store(length); }
  // A transfer that receives nothing for this long fails with kInternetError.
  int stall_timeout_ms = 60000;
  // With a user name: sent only to a server that asks for it (a 401 naming Basic or
  // Digest, HTTP's own authentication), and never to another host a redirect leads to.
  // A 401 that remains ends the transfer with kNotFound, like any other status.
  std::string user;
  std::string password;

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
  // Removes the body kept from the last run, and the folders made for it.
  void DiscardBody();

  const std::uint64_t id_;
  const int slot_;
  std::atomic<bool> cancel_{false};
  std::atomic<std::uint32_t> attempts_{0};
  std::atomic<std::uint32_t> bytes_received_{0};
  std::atomic<std::uint32_t> expected_length_{0};
  std::atomic<long> http_status_{0};
  mutable std::mutex message_mutex_;
  std::string error_message_ = kDefaultMessage;
  // The body kept from the last run (under message_mutex_): its path, a descriptor
  // that holds its lock, and the folders made for it, outermost first.
  std::string body_path_;
  base::UniqueFd body_lock_;
  std::vector<std::string> made_folders_;
};

}  // namespace net

#endif  // LUMORA_NET_INET_FILE_H_
