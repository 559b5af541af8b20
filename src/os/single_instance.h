// The program runs once per user on a desktop: the first start claims the instance and
// listens; a later start hands its command line to the first and ends. The claim is an
// advisory lock on a file, and the later starts come in over a Unix socket beside it,
// both in a folder of the user's own: $XDG_RUNTIME_DIR, or "lumora-UID" (mode 0700)
// in the temporary folder. Both are named for the desktop (the display), so that a
// program on another display runs on its own.
//
// What arrives on the socket is hostile: a record larger than kMaxRecord, one that is
// not the program's own form, not UTF-8 or holds a zero byte, one from another user, and
// connections that send nothing are dropped; at most kMaxPending wait at a time, each
// for at most kPendingMs.
#ifndef LUMORA_OS_SINGLE_INSTANCE_H_
#define LUMORA_OS_SINGLE_INSTANCE_H_

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/status.h"
#include "base/unique_file.h"

namespace os {

class SingleInstance {
 public:
  // The largest record a later start sends: its command line and startup id, framed.
  static constexpr std::size_t kMaxRecord = 16 * 1024;
  static constexpr std::size_t kMaxPending = 8;
  static constexpr unsigned kPendingMs = 5000;

  // What a later start hands over.
  struct LaterStart {
    std::string command_line;  // its words, UTF-8
    std::string startup_id;    // the desktop's startup notification id; may be empty
  };
  using OnLaterStart = std::function<void(const LaterStart&)>;

  SingleInstance() = default;
  // The instance stops listening, its socket goes and its lock is let go.
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // The folder of the lock and the socket, opened: |runtime_dir| when it is an absolute
  // path of a folder that the user owns and no one else may enter; otherwise
  // |temp_dir| (or /tmp) + "/lumora-UID", made with mode 0700 when missing, which must
  // be such a folder itself and no symbolic link.
  [[nodiscard]] static base::Status OpenFolder(const char* runtime_dir, const char* temp_dir,
                                               base::UniqueFd* folder);
  // The same with $XDG_RUNTIME_DIR and $TMPDIR.
  [[nodiscard]] static base::Status OpenFolder(base::UniqueFd* folder);

  // The name of the instance on the desktop |display| (a display name such as ":0"; the
  // screen of an X display does not count): "lumora-" and the name with every byte but
  // letters, digits, "-" and "." written as "%XX", or a digest of a long name.
  static std::string NameFor(std::string_view display);

  // Claims the instance |name| in |folder|. When no one holds it, this process takes it
  // and listens: *first is true, and each later start is handed to |on_later_start| on
  // the main loop (GLib's default context) for as long as this object lives. Otherwise
  // |start| is handed to the process that holds it, waiting up to |wait_ms| for it to
  // listen (it may be starting too): *first is false.
  //
  // On failure *first still says what this process is: true when it runs as the
  // instance but later starts cannot reach it (the lock file or the socket cannot be
  // used), false when another instance runs and did not take |start| (kInvalid when
  // |start| is too long or not UTF-8, kUnavailable when no one listened in time).
  [[nodiscard]] base::Status Claim(base::UniqueFd folder, const std::string& name,
                                   const LaterStart& start, OnLaterStart on_later_start,
                                   bool* first, unsigned wait_ms = 10000);

 private:
  // A connection not yet read.
  struct Pending {
    SingleInstance* owner;
    base::UniqueFd fd;
    unsigned watch = 0;
    unsigned timeout = 0;
  };

  // Takes the lock when it is free: true then.
  [[nodiscard]] base::Status TryLock(bool* locked);
  [[nodiscard]] base::Status Listen();
  // Sends |record| to the instance that listens: false when no one does (yet).
  [[nodiscard]] bool Send(const std::string& record);
  std::string SocketPath() const;

  // The main loop's callbacks (single_instance.cpp).
  struct Callbacks;
  void Accept();
  // Reads the record of |pending| when it has come, into |later| when it is a later
  // start's; true when the connection is done with.
  bool Read(Pending& pending, std::optional<LaterStart>* later);
  // Closes |pending| and forgets it.
  void Drop(Pending& pending);

  base::UniqueFd folder_;
  std::string name_;
  base::UniqueFd lock_;
  base::UniqueFd listener_;
  unsigned listen_watch_ = 0;
  OnLaterStart on_later_start_;
  std::map<int, std::unique_ptr<Pending>> pending_;  // by descriptor
};

}  // namespace os

#endif  // LUMORA_OS_SINGLE_INSTANCE_H_
