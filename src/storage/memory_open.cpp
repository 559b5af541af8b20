// Opening and inspecting memory files for the intercepted file functions. System
// calls are made directly, never through the intercepted functions, because the
// registry lock is held meanwhile.
#include "storage/memory_open.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "storage/memory_registry.h"

extern "C" int lumora_memory_open(const char* path, int flags) {
  return memory_registry::WithMemoryFile(path, -2, [flags](CMemoryFile& file) {
    char proc[64];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", file.fd());
    const int kept = flags & (O_ACCMODE | O_CLOEXEC | O_NONBLOCK | O_DIRECTORY | O_NOATIME);
    return static_cast<int>(syscall(SYS_openat, AT_FDCWD, proc, kept, 0));
  });
}

extern "C" int lumora_memory_stat(const char* path, struct stat* st) {
  return memory_registry::WithMemoryFile(path, -2, [st](CMemoryFile& file) {
    return static_cast<int>(syscall(SYS_fstat, file.fd(), st));
  });
}

extern "C" int lumora_memory_statx(const char* path, unsigned int mask, struct statx* stx) {
  return memory_registry::WithMemoryFile(path, -2, [mask, stx](CMemoryFile& file) {
    return static_cast<int>(syscall(SYS_statx, file.fd(), "", AT_EMPTY_PATH, mask, stx));
  });
}

extern "C" int lumora_memory_access(const char* path, int mode) {
  return memory_registry::WithMemoryFile(path, -2, [mode](CMemoryFile&) {
    if (mode & X_OK) {
      errno = EACCES;
      return -1;
    }
    return 0;
  });
}
