#include "os/single_instance.h"

#include <fcntl.h>
#include <glib-unix.h>
#include <glib.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <thread>
#include <utility>

#include "base/callback_guard.h"
#include "base/folders.h"

namespace os {
namespace {

// A record: this line, the startup id and a line feed, then the command line.
constexpr std::string_view kRecordStart = "lumora-start 1\n";

bool IsAsciiAlnum(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// A startup id is printable ASCII without spaces, as the desktop makes them.
bool IsStartupId(std::string_view id) {
  for (unsigned char c : id)
    if (c < 0x21 || c > 0x7E) return false;
  return true;
}

// UTF-8 without a zero byte.
bool IsText(std::string_view text) {
  return text.empty() || g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr);
}

// A folder the user owns and no one else may enter.
bool IsPrivateFolder(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
         (st.st_mode & 077) == 0;
}

// Whether the peer of the connected socket |fd| is a process of this user's.
bool PeerIsThisUser(int fd) {
  struct ucred peer {};
  socklen_t length = sizeof peer;
  return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == geteuid();
}

// The later start of a record, or nothing when the record is not one.
std::optional<SingleInstance::LaterStart> ParseRecord(std::string_view record) {
  if (!record.starts_with(kRecordStart)) return std::nullopt;
  record.remove_prefix(kRecordStart.size());
  const std::size_t end_of_id = record.find('\n');
  if (end_of_id == std::string_view::npos || !IsText(record)) return std::nullopt;
  SingleInstance::LaterStart later{std::string(record.substr(end_of_id + 1)),
                                   std::string(record.substr(0, end_of_id))};
  if (!IsStartupId(later.startup_id)) return std::nullopt;
  return later;
}

}  // namespace

struct SingleInstance::Callbacks {
  static gboolean OnAcceptable(int fd, GIOCondition condition, gpointer self) noexcept;
  static gboolean OnReadable(int fd, GIOCondition condition, gpointer pending) noexcept;
  static gboolean OnPendingTimeout(gpointer pending) noexcept;
};

SingleInstance::~SingleInstance() {
  for (auto& [fd, pending] : pending_) {
    if (pending->watch != 0) g_source_remove(pending->watch);
    if (pending->timeout != 0) g_source_remove(pending->timeout);
  }
  if (listen_watch_ != 0) g_source_remove(listen_watch_);
  if (listener_.valid()) {
    // Removed while the lock is still held: a new instance makes its own.
    listener_.Reset();
    unlinkat(folder_.get(), (name_ + ".socket").c_str(), 0);
  }
}

base::Status SingleInstance::OpenFolder(const char* runtime_dir, const char* temp_dir,
                                        base::UniqueFd* folder) {
  if (runtime_dir != nullptr && runtime_dir[0] == '/') {
    base::UniqueFd fd(open(runtime_dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid() && IsPrivateFolder(fd.get())) {
      *folder = std::move(fd);
      return base::Status::Ok();
    }
  }
  const std::string temp = temp_dir != nullptr && temp_dir[0] == '/' ? temp_dir : "/tmp";
  const std::string path = temp + "/lumora-" + std::to_string(geteuid());
  // What is there already is checked below, through its descriptor.
  if (base::Status made = base::MakeFolder(path, 0700); !made.ok()) return made;
  // Never through a link: the folder checked is the folder used.
  base::UniqueFd fd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) return base::PosixError(path, errno);
  if (!IsPrivateFolder(fd.get()))
    return base::Status::Invalid(path +
                                 " is not a folder of this user's own that no one else may enter");
  *folder = std::move(fd);
  return base::Status::Ok();
}

base::Status SingleInstance::OpenFolder(base::UniqueFd* folder) {
  return OpenFolder(std::getenv("XDG_RUNTIME_DIR"), std::getenv("TMPDIR"), folder);
}

std::string SingleInstance::NameFor(std::string_view display) {
  // "host:0.1" is screen 1 of display "host:0".
  const std::size_t colon = display.rfind(':');
  if (colon != std::string_view::npos) {
    const std::size_t dot = display.find('.', colon);
    if (dot != std::string_view::npos && dot > colon + 1) display = display.substr(0, dot);
  }
  std::string name = "lumora-";
  for (unsigned char c : display) {
    if (IsAsciiAlnum(c) || c == '-' || c == '.') {
      name += static_cast<char>(c);
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", c);
      name += escaped;
    }
  }
  if (name.size() > 64) {
    g_autofree gchar* digest = g_compute_checksum_for_data(
        G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(display.data()), display.size());
    name = "lumora-" + std::string(digest, 32);
  }
  return name;
}

std::string SingleInstance::SocketPath() const {
  // The folder as it was opened and checked, whatever its name.
  return "/proc/self/fd/" + std::to_string(folder_.get()) + "/" + name_ + ".socket";
}

base::Status SingleInstance::Claim(base::UniqueFd folder, const std::string& name,
                                   const LaterStart& start, OnLaterStart on_later_start,
                                   bool* first, unsigned wait_ms) {
  *first = true;
  folder_ = std::move(folder);
  name_ = name;
  on_later_start_ = std::move(on_later_start);
  if (name_.empty() || name_.find('/') != std::string::npos ||
      SocketPath().size() >= sizeof(sockaddr_un::sun_path))
    return base::Status::Invalid("the instance cannot be named \"" + name_ + "\"");
  bool locked = false;
  if (base::Status status = TryLock(&locked); !status.ok()) return status;
  if (locked) return Listen();

  *first = false;
  if (!IsText(start.command_line) || !IsStartupId(start.startup_id))
    return base::Status::Invalid(
        "the command line is not UTF-8 text: it cannot be handed to the "
        "program that runs already");
  const std::string record =
      std::string(kRecordStart) + start.startup_id + "\n" + start.command_line;
  if (record.size() > kMaxRecord)
    return base::Status::Invalid(
        "the command line is too long to be handed to the program that "
        "runs already");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  for (;;) {
    if (Send(record)) return base::Status::Ok();
    // The instance may have ended meanwhile: then this process is the one.
    if (flock(lock_.get(), LOCK_EX | LOCK_NB) == 0) {
      *first = true;
      return Listen();
    }
    if (std::chrono::steady_clock::now() >= deadline)
      return base::Status::Unavailable("the program that runs already (" + name_ +
                                       ".lock) does not take the command line");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

base::Status SingleInstance::TryLock(bool* locked) {
  const std::string lock_name = name_ + ".lock";
  // Without blocking: a FIFO in its place is refused below, never waited on.
  base::UniqueFd fd(openat(folder_.get(), lock_name.c_str(),
                           O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
  if (!fd.valid()) return base::PosixError(lock_name, errno);
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return base::PosixError(lock_name, errno);
  if (!S_ISREG(st.st_mode) || st.st_uid != geteuid())
    return base::Status::NotRegular(lock_name + " is not a file of this user's own");
  if (flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
    *locked = true;
  } else if (errno == EWOULDBLOCK) {
    *locked = false;
  } else {
    return base::PosixError(lock_name, errno);
  }
  lock_ = std::move(fd);
  return base::Status::Ok();
}

base::Status SingleInstance::Listen() {
  const std::string socket_name = name_ + ".socket";
  // Whatever an instance before left there goes: only this user writes the folder, and
  // only the holder of the lock listens.
  if (unlinkat(folder_.get(), socket_name.c_str(), 0) != 0 && errno != ENOENT)
    return base::PosixError(socket_name, errno);
  base::UniqueFd fd(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return base::PosixError("socket", errno);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = SocketPath();
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  if (bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return base::PosixError(socket_name, errno);
  if (listen(fd.get(), static_cast<int>(kMaxPending)) != 0)
    return base::PosixError(socket_name, errno);
  listen_watch_ = g_unix_fd_add(fd.get(), G_IO_IN, &Callbacks::OnAcceptable, this);
  listener_ = std::move(fd);
  return base::Status::Ok();
}

bool SingleInstance::Send(const std::string& record) {
  struct stat st;
  if (fstatat(folder_.get(), (name_ + ".socket").c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISSOCK(st.st_mode))
    return false;
  base::UniqueFd fd(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return false;
  // Connecting waits while the instance's queue is full; never for long.
  const timeval bound{1, 0};
  setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  SocketPath().copy(address.sun_path, sizeof address.sun_path - 1);
  if (connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      !PeerIsThisUser(fd.get()))
    return false;
  return send(fd.get(), record.data(), record.size(), MSG_NOSIGNAL) ==
         static_cast<ssize_t>(record.size());
}

gboolean SingleInstance::Callbacks::OnAcceptable(int, GIOCondition, gpointer self) noexcept {
  base::Guarded("a later start", [self] { static_cast<SingleInstance*>(self)->Accept(); });
  return G_SOURCE_CONTINUE;
}

void SingleInstance::Accept() {
  for (;;) {
    base::UniqueFd fd(accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd.valid()) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;  // none waiting
    }
    // Another user's, or one too many: dropped unread.
    if (!PeerIsThisUser(fd.get()) || pending_.size() >= kMaxPending) continue;
    const int key = fd.get();
    auto pending = std::make_unique<Pending>(Pending{this, std::move(fd)});
    pending->watch = g_unix_fd_add(key, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                                   &Callbacks::OnReadable, pending.get());
    pending->timeout = g_timeout_add(kPendingMs, &Callbacks::OnPendingTimeout, pending.get());
    pending_[key] = std::move(pending);
  }
}

gboolean SingleInstance::Callbacks::OnReadable(int, GIOCondition, gpointer data) noexcept {
  auto* pending = static_cast<Pending*>(data);
  SingleInstance* self = pending->owner;
  std::optional<LaterStart> later;
  const bool done =
      base::Guarded("a later start", true, [&] { return self->Read(*pending, &later); });
  if (!done) return G_SOURCE_CONTINUE;
  pending->watch = 0;  // this source ends with the return below
  self->Drop(*pending);
  // Handed on last: whatever the handler does, the connection is gone already.
  if (later && self->on_later_start_)
    base::Guarded("a later start", [&] { self->on_later_start_(*later); });
  return G_SOURCE_REMOVE;
}

gboolean SingleInstance::Callbacks::OnPendingTimeout(gpointer data) noexcept {
  auto* pending = static_cast<Pending*>(data);
  pending->timeout = 0;  // this source ends with the return below
  pending->owner->Drop(*pending);
  return G_SOURCE_REMOVE;
}

bool SingleInstance::Read(Pending& pending, std::optional<LaterStart>* later) {
  // One byte more than a record may have: a longer one is seen cut short.
  std::string record(kMaxRecord + 1, '\0');
  iovec part{record.data(), record.size()};
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  const ssize_t n = recvmsg(pending.fd.get(), &message, MSG_DONTWAIT);
  if (n < 0) return errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
  if (n == 0 || (message.msg_flags & MSG_TRUNC) != 0 || static_cast<std::size_t>(n) > kMaxRecord)
    return true;  // closed unsent, or too long: dropped
  record.resize(static_cast<std::size_t>(n));
  *later = ParseRecord(record);
  return true;
}

void SingleInstance::Drop(Pending& pending) {
  if (pending.watch != 0) g_source_remove(pending.watch);
  if (pending.timeout != 0) g_source_remove(pending.timeout);
  pending_.erase(pending.fd.get());  // closes it
}

}  // namespace os
