// Counts how often a file is replaced: the program replaces a file by renaming a new one
// onto its name, and inotify reports each such rename into the folder (IN_MOVED_TO). The
// renames out of the temporary names are watched too: inotify merges an event into the
// one before it when both are the same, and they keep the renames onto one name apart.
#ifndef LUMORA_TESTS_SUPPORT_RENAME_COUNTER_H_
#define LUMORA_TESTS_SUPPORT_RENAME_COUNTER_H_

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

class RenameCounter {
 public:
  // Watches the folder of |path| for renames onto its name.
  explicit RenameCounter(const std::string& path)
      : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)), name_(path.substr(path.rfind('/') + 1)) {
    const std::string folder = path.substr(0, path.rfind('/'));
    if (fd_ >= 0 && inotify_add_watch(fd_, folder.c_str(), IN_MOVED_FROM | IN_MOVED_TO) < 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~RenameCounter() {
    if (fd_ >= 0) close(fd_);
  }
  RenameCounter(const RenameCounter&) = delete;
  RenameCounter& operator=(const RenameCounter&) = delete;

  // The renames onto the name since the counter was made; -1 when inotify failed.
  int Count() {
    if (fd_ < 0) return -1;
    alignas(inotify_event) char buffer[65536];
    for (;;) {
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return errno == EAGAIN ? count_ : -1;
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if ((event->mask & IN_Q_OVERFLOW) != 0) return -1;
        if ((event->mask & IN_MOVED_TO) != 0 && event->len > 0 && name_ == event->name) ++count_;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
  }

 private:
  int fd_;
  std::string name_;
  int count_ = 0;
};

#endif  // LUMORA_TESTS_SUPPORT_RENAME_COUNTER_H_
