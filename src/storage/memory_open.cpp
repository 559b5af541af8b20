// Opening and inspecting memory files for the intercepted file functions. System
// calls are made directly, never through the intercepted functions, and never while
// the registry lock is held: a lookup takes a reference to the image and lets go.
//
// Streams (fopen) on memory files are the program's own: a C library stream whose
// reads, writes and seeks work on the image's populated mapping, with no system call
// at all. Measured with bench/memory_file_bench up to 20 MB, a copy out of the mapping
// beats the kernel's read of the memfd at every size (three times at 20 MB), so every
// size is served this way. A real descriptor is made only when fileno() asks for one (the
// C++ file streams read through it); from then on the stream reads and writes through
// that descriptor, so both share one position.
#include "storage/memory_open.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "storage/memory_image.h"
#include "storage/memory_registry.h"

namespace storage {
namespace {

// A descriptor of /proc/self/fd, opened once: each open of a memory file re-opens the
// image's memfd by its number relative to it, which spares the kernel the walk through
// /proc/self. Reset in a forked child, whose /proc/self is another folder.
std::atomic<int> proc_fd_dir{-1};

int ProcFdDir() {
  int dir = proc_fd_dir.load(std::memory_order_acquire);
  if (dir >= 0) return dir;
  const int fresh = static_cast<int>(
      syscall(SYS_openat, AT_FDCWD, "/proc/self/fd", O_PATH | O_DIRECTORY | O_CLOEXEC, 0));
  if (fresh < 0) return -1;
  if (proc_fd_dir.compare_exchange_strong(dir, fresh, std::memory_order_acq_rel)) return fresh;
  syscall(SYS_close, fresh);  // another thread was first
  return dir;
}

// A new open of |image|'s memfd with its own position; -1 and errno on failure.
int Reopen(const MemoryImage& image, int flags) {
  const int kept = flags & (O_ACCMODE | O_CLOEXEC | O_NONBLOCK | O_DIRECTORY | O_NOATIME);
  char name[32] = "/proc/self/fd/";
  constexpr std::size_t kPrefix = sizeof "/proc/self/fd/" - 1;
  char* end = std::to_chars(name + kPrefix, name + sizeof name - 1, image.fd()).ptr;
  *end = '\0';
  const int dir = ProcFdDir();
  if (dir >= 0) return static_cast<int>(syscall(SYS_openat, dir, name + kPrefix, kept, 0));
  return static_cast<int>(syscall(SYS_openat, AT_FDCWD, name, kept, 0));
}

// One stream made by lumora_memory_fopen; owned by its FILE, released by fclose.
struct MemoryStream {
  std::shared_ptr<MemoryImage> image;
  FILE* file = nullptr;
  std::size_t position = 0;  // while there is no descriptor
  int access = O_RDONLY;     // for the descriptor fileno makes
  int fd = -1;               // once made, the stream reads, writes and seeks through it
};

std::mutex& streams_lock() {
  static std::mutex* lock = new std::mutex;  // never destroyed: streams live until exit
  return *lock;
}
// The open streams, under streams_lock().
std::vector<MemoryStream*>& streams() {
  static auto* list = new std::vector<MemoryStream*>;
  return *list;
}
// How many are open (fileno's lock-free fast path).
std::atomic<int> open_streams{0};

// The stream's position: its own, or its descriptor's.
off64_t Position(const MemoryStream& s) {
  if (s.fd < 0) return static_cast<off64_t>(s.position);
  return static_cast<off64_t>(syscall(SYS_lseek, s.fd, 0, SEEK_CUR));
}

void SetPosition(MemoryStream& s, std::size_t position) {
  if (s.fd < 0)
    s.position = position;
  else
    syscall(SYS_lseek, s.fd, static_cast<off64_t>(position), SEEK_SET);
}

ssize_t StreamRead(void* cookie, char* buf, std::size_t size) noexcept {
  auto& s = *static_cast<MemoryStream*>(cookie);
  if (s.fd >= 0) return static_cast<ssize_t>(syscall(SYS_read, s.fd, buf, size));
  const std::size_t n = std::min(size, s.image->size() - s.position);
  std::memcpy(buf, s.image->data() + s.position, n);
  s.position += n;
  return static_cast<ssize_t>(n);
}

// Writes the part that fits before the image's end: the image never grows.
ssize_t StreamWrite(void* cookie, const char* buf, std::size_t size) noexcept {
  auto& s = *static_cast<MemoryStream*>(cookie);
  const off64_t position = Position(s);
  if (position < 0) return 0;
  const auto at = static_cast<std::size_t>(position);
  const std::size_t n = at < s.image->size() ? std::min(size, s.image->size() - at) : 0;
  if (n == 0 && size > 0) {
    errno = ENOSPC;
    return 0;  // the C library marks the stream's error; never -1, which it would count
  }
  std::memcpy(s.image->data() + at, buf, n);
  SetPosition(s, at + n);
  return static_cast<ssize_t>(n);
}

// |base| + |offset| within [0, |size|]: below the start is the start, past the end (an
// overflow included) the end.
off64_t ClampedTarget(off64_t base, off64_t offset, std::size_t size) {
  const auto end = static_cast<off64_t>(size);
  off64_t target = 0;
  if (__builtin_add_overflow(base, offset, &target)) return offset < 0 ? 0 : end;
  return std::clamp<off64_t>(target, 0, end);
}

// Seeks clamp to [0, size].
int StreamSeek(void* cookie, off64_t* offset, int whence) noexcept {
  auto& s = *static_cast<MemoryStream*>(cookie);
  off64_t base = 0;
  switch (whence) {
    case SEEK_SET:
      base = 0;
      break;
    case SEEK_CUR:
      base = Position(s);
      break;
    case SEEK_END:
      base = static_cast<off64_t>(s.image->size());
      break;
    default:
      errno = EINVAL;
      return -1;
  }
  if (base < 0) return -1;
  const off64_t target = ClampedTarget(base, *offset, s.image->size());
  SetPosition(s, static_cast<std::size_t>(target));
  *offset = target;
  return 0;
}

int StreamClose(void* cookie) noexcept {
  std::unique_ptr<MemoryStream> s(static_cast<MemoryStream*>(cookie));
  {
    std::lock_guard<std::mutex> lock(streams_lock());
    auto& list = streams();
    auto it = std::find(list.begin(), list.end(), s.get());
    if (it != list.end()) {
      list.erase(it);
      open_streams.fetch_sub(1, std::memory_order_release);
    }
  }
  if (s->fd >= 0) syscall(SYS_close, s->fd);
  return 0;  // the image goes with the last reference
}

// Fork handlers: no thread holds either lock while the process is copied. Locking
// throws only for a thread that already holds the lock, a fault that must end the
// process rather than let a child start with a lock held.
void LockForFork() noexcept {
  memory_registry::registry_lock().lock();
  streams_lock().lock();
}
void UnlockInParent() noexcept {
  streams_lock().unlock();
  memory_registry::registry_lock().unlock();
}
void UnlockInChild() noexcept {
  streams_lock().unlock();
  memory_registry::registry_lock().unlock();
  const int dir = proc_fd_dir.exchange(-1, std::memory_order_acq_rel);
  if (dir >= 0) syscall(SYS_close, dir);
}

// Makes the plain read-write regular file that stat reports.
void AsPlainFile(struct stat* st, std::size_t size) {
  st->st_mode = S_IFREG | 0644;
  st->st_nlink = 1;
  st->st_size = static_cast<off_t>(size);
}

// What an entry point answers when something below it threw (only allocating can, or
// taking a lock on a fault of the process): the call fails as if memory had run out.
int Failed() noexcept {
  errno = ENOMEM;
  return -1;
}

// The stream that lumora_memory_fopen made as |stream|, or null.
MemoryStream* FindStream(FILE* stream) {
  std::lock_guard<std::mutex> lock(streams_lock());
  for (MemoryStream* each : streams())
    if (each->file == stream) return each;
  return nullptr;
}

}  // namespace

namespace memory_registry {

void InstallForkHandlers() {
  // pthread_atfork fails only when out of memory; the handlers are then missing, which
  // matters only to a child forked while another thread held a lock, and registering
  // must not fail for that.
  [[maybe_unused]] static const int installed =
      pthread_atfork(LockForFork, UnlockInParent, UnlockInChild);
}

}  // namespace memory_registry
}  // namespace storage

using storage::MemoryImage;
using storage::MemoryStream;
namespace memory_registry = storage::memory_registry;

extern "C" int lumora_memory_open(const char* path, int flags) noexcept {
  try {
    std::shared_ptr<MemoryImage> image = memory_registry::FindImage(path);
    if (!image) return -2;
    return storage::Reopen(*image, flags);
  } catch (...) {
    return storage::Failed();
  }
}

extern "C" int lumora_memory_fopen(const char* path, const char* mode, FILE** stream) noexcept {
  if (mode == nullptr) return -2;
  *stream = nullptr;
  try {
    std::shared_ptr<MemoryImage> image = memory_registry::FindImage(path);
    if (!image) return -2;
    const bool read_only = mode[0] == 'r' && std::strchr(mode, '+') == nullptr;
    const char* stream_mode = read_only ? "r" : "r+";
    auto s = std::make_unique<MemoryStream>();
    s->image = std::move(image);
    s->access = read_only ? O_RDONLY : O_RDWR;
    const cookie_io_functions_t io = {storage::StreamRead,
                                      read_only ? nullptr : storage::StreamWrite,
                                      storage::StreamSeek, storage::StreamClose};
    FILE* file = fopencookie(s.get(), stream_mode, io);
    if (file == nullptr) return 0;
    MemoryStream* owned = s.release();  // the stream owns it now; StreamClose frees it
    owned->file = file;
    try {
      std::lock_guard<std::mutex> lock(storage::streams_lock());
      storage::streams().push_back(owned);
      storage::open_streams.fetch_add(1, std::memory_order_release);
    } catch (...) {
      std::fclose(file);  // frees |owned|
      throw;
    }
    *stream = file;
    return 0;
  } catch (...) {
    errno = ENOMEM;  // as storage::Failed() says, for a stream
    return 0;
  }
}

extern "C" int lumora_memory_fileno(FILE* stream) noexcept {
  if (stream == nullptr || storage::open_streams.load(std::memory_order_acquire) == 0) return -2;
  try {
    MemoryStream* s = storage::FindStream(stream);
    if (s == nullptr) return -2;
    flockfile(stream);
    if (s->fd < 0) {
      // Pending writes go into the image and read-ahead is dropped, so the stream's own
      // position is where its user stands.
      std::fflush(stream);
      const int fd = storage::Reopen(*s->image, s->access | O_CLOEXEC);
      if (fd >= 0) {
        if (s->position != 0) syscall(SYS_lseek, fd, static_cast<off64_t>(s->position), SEEK_SET);
        s->fd = fd;
      }
    }
    const int fd = s->fd;
    funlockfile(stream);
    return fd;
  } catch (...) {
    return storage::Failed();
  }
}

extern "C" std::size_t lumora_memory_read_direct(FILE* stream, void* out,
                                                 std::size_t bytes) noexcept {
  if (storage::open_streams.load(std::memory_order_acquire) == 0) return 0;
  MemoryStream* s = nullptr;
  try {
    s = storage::FindStream(stream);
  } catch (...) {
    return 0;  // the C library reads it the usual way
  }
  // Only where the C library holds nothing of its own: no buffered or pushed-back
  // bytes, no pending writes, no end or error seen, no descriptor.
  if (s == nullptr || s->fd >= 0 || stream->_IO_read_ptr != stream->_IO_read_end ||
      stream->_IO_write_ptr != stream->_IO_write_base || stream->_IO_save_base != nullptr ||
      feof_unlocked(stream) || ferror_unlocked(stream))
    return 0;
  const std::size_t n = std::min(bytes, s->image->size() - s->position);
  std::memcpy(out, s->image->data() + s->position, n);
  s->position += n;
  return n;
}

extern "C" long long lumora_memory_lseek(int fd, long long offset, int whence) noexcept {
  if ((whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) ||
      !memory_registry::AnyRegistered())
    return -2;
  std::shared_ptr<MemoryImage> image;
  try {
    struct stat st;
    if (syscall(SYS_fstat, fd, &st) != 0 || !S_ISREG(st.st_mode)) return -2;
    image = memory_registry::FindImageOf(st.st_dev, st.st_ino);
  } catch (...) {
    return -2;  // the lock failed: the system seeks as it would
  }
  if (!image) return -2;
  off64_t base = 0;
  if (whence == SEEK_CUR) {
    base = static_cast<off64_t>(syscall(SYS_lseek, fd, 0, SEEK_CUR));
    if (base < 0) return -1;
  } else if (whence == SEEK_END) {
    base = static_cast<off64_t>(image->size());
  }
  return static_cast<long long>(
      syscall(SYS_lseek, fd, storage::ClampedTarget(base, offset, image->size()), SEEK_SET));
}

extern "C" int lumora_memory_stat(const char* path, struct stat* st) noexcept {
  try {
    std::shared_ptr<MemoryImage> image = memory_registry::FindImage(path);
    if (!image) return -2;
    const int r = static_cast<int>(syscall(SYS_fstat, image->fd(), st));
    if (r == 0) storage::AsPlainFile(st, image->size());
    return r;
  } catch (...) {
    return storage::Failed();
  }
}

extern "C" int lumora_memory_statx(const char* path, unsigned int mask,
                                   struct statx* stx) noexcept {
  try {
    std::shared_ptr<MemoryImage> image = memory_registry::FindImage(path);
    if (!image) return -2;
    const int r = static_cast<int>(syscall(SYS_statx, image->fd(), "", AT_EMPTY_PATH, mask, stx));
    if (r == 0) {
      stx->stx_mask |= STATX_TYPE | STATX_MODE | STATX_NLINK | STATX_SIZE;
      stx->stx_mode = S_IFREG | 0644;
      stx->stx_nlink = 1;
      stx->stx_size = image->size();
    }
    return r;
  } catch (...) {
    return storage::Failed();
  }
}

extern "C" int lumora_memory_access(const char* path, int mode) noexcept {
  try {
    if (!memory_registry::FindImage(path)) return -2;
  } catch (...) {
    return storage::Failed();
  }
  if (mode & X_OK) {
    errno = EACCES;
    return -1;
  }
  return 0;
}
