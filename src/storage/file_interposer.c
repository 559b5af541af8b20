/* Interception of the C library's file functions.

   These definitions stand in the program itself, so every component of the process
   that opens a file through the C library (C and C++ streams, GLib, GIO, the web
   engine's loader) reaches them first. A call on a registered memory file is served
   from its image; every other call goes on to the C library unchanged, errors and
   all, and so does every call with a null path. Calls arrive before main, from any
   thread. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "storage/memory_open.h"

/* The C library's definition of |name|, looked up once. Any thread may be first: the
   cache is atomic, and two threads looking up at once store the same address. */
static void* real_function(_Atomic(void*)* cache, const char* name) {
  void* function = atomic_load_explicit(cache, memory_order_acquire);
  if (!function) {
    function = dlsym(RTLD_NEXT, name);
    atomic_store_explicit(cache, function, memory_order_release);
  }
  return function;
}

#define REAL(name, type)                   \
  static _Atomic(void*) real_cache_##name; \
  __typeof__((type)0) real_##name = (type)real_function(&real_cache_##name, #name)

/* Whether a path argument is there at all. The C library declares its path arguments
   never null, so a plain comparison would be dropped by the compiler; the empty asm
   hides where the pointer came from. */
static inline int present(const char* path) {
  __asm__("" : "+r"(path));
  return path != NULL;
}

static mode_t mode_arg(int flags, va_list ap) {
  return (flags & O_CREAT) || (flags & __O_TMPFILE) == __O_TMPFILE ? (mode_t)va_arg(ap, int) : 0;
}

/* The open flags for a stdio mode on a memory file: reading only for "r", reading
   and writing in place otherwise. */
static int mode_flags(const char* mode) {
  return mode[0] == 'r' && !strchr(mode, '+') ? O_RDONLY : O_RDWR;
}

/* stdio on a memory file: the image neither grows nor shrinks, so "w" and "a" open
   it for writing in place. */
static const char* memory_mode(const char* mode) {
  if (strchr(mode, '+')) return "r+";
  return mode[0] == 'r' ? "r" : "r+";
}

/* open and openat in their plain and 64-bit forms: the mode argument is there only
   when a file may be created. */
#define OPEN_WRAPPER(name, params, args)                            \
  int name params {                                                 \
    va_list ap;                                                     \
    va_start(ap, flags);                                            \
    mode_t mode = mode_arg(flags, ap);                              \
    va_end(ap);                                                     \
    int fd = present(path) ? lumora_memory_open(path, flags) : -2;  \
    if (fd != -2) return fd;                                        \
    REAL(name, __typeof__(&name));                                  \
    return real_##name args;                                        \
  }

OPEN_WRAPPER(open, (const char* path, int flags, ...), (path, flags, mode))
OPEN_WRAPPER(open64, (const char* path, int flags, ...), (path, flags, mode))
OPEN_WRAPPER(openat, (int dirfd, const char* path, int flags, ...), (dirfd, path, flags, mode))
OPEN_WRAPPER(openat64, (int dirfd, const char* path, int flags, ...),
             (dirfd, path, flags, mode))

/* The fortified forms, which never create a file. */
#define OPEN2_WRAPPER(name, params, args, type)                     \
  int name params {                                                 \
    int fd = present(path) ? lumora_memory_open(path, flags) : -2;  \
    if (fd != -2) return fd;                                        \
    REAL(name, type);                                               \
    return real_##name args;                                        \
  }

OPEN2_WRAPPER(__open_2, (const char* path, int flags), (path, flags), int (*)(const char*, int))
OPEN2_WRAPPER(__open64_2, (const char* path, int flags), (path, flags),
              int (*)(const char*, int))
OPEN2_WRAPPER(__openat_2, (int dirfd, const char* path, int flags), (dirfd, path, flags),
              int (*)(int, const char*, int))
OPEN2_WRAPPER(__openat64_2, (int dirfd, const char* path, int flags), (dirfd, path, flags),
              int (*)(int, const char*, int))

/* creat is open for writing with creation and truncation: on a memory file it opens
   the image for writing in place, and nothing reaches the disk. */
int creat(const char* path, mode_t mode) {
  int fd = present(path) ? lumora_memory_open(path, O_WRONLY | O_CREAT | O_TRUNC) : -2;
  if (fd != -2) return fd;
  REAL(creat, int (*)(const char*, mode_t));
  return real_creat(path, mode);
}

int creat64(const char* path, mode_t mode) {
  int fd = present(path) ? lumora_memory_open(path, O_WRONLY | O_CREAT | O_TRUNC) : -2;
  if (fd != -2) return fd;
  REAL(creat64, int (*)(const char*, mode_t));
  return real_creat64(path, mode);
}

/* stdio on a memory file: a stream of the program's own over the image (see
   memory_open.h). */
FILE* fopen(const char* path, const char* mode) {
  FILE* stream;
  if (present(path) && mode && lumora_memory_fopen(path, mode, &stream) != -2) return stream;
  REAL(fopen, FILE* (*)(const char*, const char*));
  return real_fopen(path, mode);
}

FILE* fopen64(const char* path, const char* mode) {
  FILE* stream;
  if (present(path) && mode && lumora_memory_fopen(path, mode, &stream) != -2) return stream;
  REAL(fopen64, FILE* (*)(const char*, const char*));
  return real_fopen64(path, mode);
}

/* Those streams have a descriptor only once asked for one; the C++ file streams, for
   one, open with fopen64 and then read through fileno. */
int fileno(FILE* stream) {
  int fd = lumora_memory_fileno(stream);
  if (fd != -2) return fd;
  REAL(fileno, int (*)(FILE*));
  return real_fileno(stream);
}

int fileno_unlocked(FILE* stream) {
  int fd = lumora_memory_fileno(stream);
  if (fd != -2) return fd;
  REAL(fileno_unlocked, int (*)(FILE*));
  return real_fileno_unlocked(stream);
}

/* Large reads from those streams are copied straight from the image: the C library's
   stream code would copy them twice, through the stream's buffer. Whatever is left
   (the end of the image) goes through the C library, which records the end. Streams
   made by fopencookie, as those are, carry the descriptor number -2. */
enum { kDirectReadBytes = 16384 };

#undef fread_unlocked /* an inline form in the C library's header when optimizing */

static size_t memory_fread(void* buf, size_t size, size_t count, FILE* stream) {
  REAL(fread_unlocked, size_t (*)(void*, size_t, size_t, FILE*));
  size_t bytes = size * count;
  size_t direct = lumora_memory_read_direct(stream, buf, bytes);
  size_t more = direct < bytes ? real_fread_unlocked((char*)buf + direct, 1, bytes - direct,
                                                     stream)
                               : 0;
  return (direct + more) / size;
}

static int direct_candidate(size_t size, size_t count, FILE* stream) {
  size_t bytes;
  return stream && stream->_fileno == -2 && !__builtin_mul_overflow(size, count, &bytes) &&
         bytes >= kDirectReadBytes;
}

size_t fread(void* buf, size_t size, size_t count, FILE* stream) {
  if (direct_candidate(size, count, stream)) {
    flockfile(stream);
    size_t items = memory_fread(buf, size, count, stream);
    funlockfile(stream);
    return items;
  }
  REAL(fread, size_t (*)(void*, size_t, size_t, FILE*));
  return real_fread(buf, size, count, stream);
}

size_t fread_unlocked(void* buf, size_t size, size_t count, FILE* stream) {
  if (direct_candidate(size, count, stream)) return memory_fread(buf, size, count, stream);
  REAL(fread_unlocked, size_t (*)(void*, size_t, size_t, FILE*));
  return real_fread_unlocked(buf, size, count, stream);
}

/* freopen on a memory file re-opens the stream on a fresh descriptor of the image. */
static FILE* memory_reopen(int fd, const char* mode, FILE* stream,
                           FILE* (*real)(const char*, const char*, FILE*)) {
  if (fd < 0) {
    if (stream) fclose(stream);
    return NULL;
  }
  char proc[64];
  snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
  FILE* result = real(proc, memory_mode(mode), stream);
  close(fd);
  return result;
}

FILE* freopen(const char* path, const char* mode, FILE* stream) {
  REAL(freopen, FILE* (*)(const char*, const char*, FILE*));
  int fd = present(path) && mode ? lumora_memory_open(path, mode_flags(mode)) : -2;
  if (fd != -2) return memory_reopen(fd, mode, stream, real_freopen);
  return real_freopen(path, mode, stream);
}

FILE* freopen64(const char* path, const char* mode, FILE* stream) {
  REAL(freopen64, FILE* (*)(const char*, const char*, FILE*));
  int fd = present(path) && mode ? lumora_memory_open(path, mode_flags(mode)) : -2;
  if (fd != -2) return memory_reopen(fd, mode, stream, real_freopen64);
  return real_freopen64(path, mode, stream);
}

/* lseek on a descriptor of a memory file lands inside its image (see memory_open.h);
   on every other descriptor it is the C library's. The C library's own streams seek
   through an lseek of their own, which this does not reach. */
off_t lseek(int fd, off_t offset, int whence) {
  long long r = lumora_memory_lseek(fd, offset, whence);
  if (r != -2) return (off_t)r;
  REAL(lseek, off_t (*)(int, off_t, int));
  return real_lseek(fd, offset, whence);
}

off64_t lseek64(int fd, off64_t offset, int whence) {
  long long r = lumora_memory_lseek(fd, offset, whence);
  if (r != -2) return (off64_t)r;
  REAL(lseek64, off64_t (*)(int, off64_t, int));
  return real_lseek64(fd, offset, whence);
}

/* The stat family. On the 64-bit systems this program is built for, struct stat and
   struct stat64 have the same layout. */
#define STAT_BODY(name, type, ...)                                           \
  int r = present(path) ? lumora_memory_stat(path, (struct stat*)buf) : -2; \
  if (r != -2) return r;                                                    \
  REAL(name, type);                                                         \
  return real_##name(__VA_ARGS__)

int stat(const char* path, struct stat* buf) {
  STAT_BODY(stat, int (*)(const char*, struct stat*), path, buf);
}
int stat64(const char* path, struct stat64* buf) {
  STAT_BODY(stat64, int (*)(const char*, struct stat64*), path, buf);
}
int lstat(const char* path, struct stat* buf) {
  STAT_BODY(lstat, int (*)(const char*, struct stat*), path, buf);
}
int lstat64(const char* path, struct stat64* buf) {
  STAT_BODY(lstat64, int (*)(const char*, struct stat64*), path, buf);
}
int fstatat(int dirfd, const char* path, struct stat* buf, int flags) {
  STAT_BODY(fstatat, int (*)(int, const char*, struct stat*, int), dirfd, path, buf, flags);
}
int fstatat64(int dirfd, const char* path, struct stat64* buf, int flags) {
  STAT_BODY(fstatat64, int (*)(int, const char*, struct stat64*, int), dirfd, path, buf, flags);
}
int __xstat(int ver, const char* path, struct stat* buf) {
  STAT_BODY(__xstat, int (*)(int, const char*, struct stat*), ver, path, buf);
}
int __xstat64(int ver, const char* path, struct stat64* buf) {
  STAT_BODY(__xstat64, int (*)(int, const char*, struct stat64*), ver, path, buf);
}
int __lxstat(int ver, const char* path, struct stat* buf) {
  STAT_BODY(__lxstat, int (*)(int, const char*, struct stat*), ver, path, buf);
}
int __lxstat64(int ver, const char* path, struct stat64* buf) {
  STAT_BODY(__lxstat64, int (*)(int, const char*, struct stat64*), ver, path, buf);
}
int __fxstatat(int ver, int dirfd, const char* path, struct stat* buf, int flags) {
  STAT_BODY(__fxstatat, int (*)(int, int, const char*, struct stat*, int), ver, dirfd, path,
            buf, flags);
}
int __fxstatat64(int ver, int dirfd, const char* path, struct stat64* buf, int flags) {
  STAT_BODY(__fxstatat64, int (*)(int, int, const char*, struct stat64*, int), ver, dirfd,
            path, buf, flags);
}

int statx(int dirfd, const char* path, int flags, unsigned int mask, struct statx* buf) {
  /* An empty or (on current kernels) null path with AT_EMPTY_PATH asks about the
     descriptor itself. */
  int r = present(path) && path[0] ? lumora_memory_statx(path, mask, buf) : -2;
  if (r != -2) return r;
  REAL(statx, int (*)(int, const char*, int, unsigned int, struct statx*));
  return real_statx(dirfd, path, flags, mask, buf);
}

int access(const char* path, int mode) {
  int r = present(path) ? lumora_memory_access(path, mode) : -2;
  if (r != -2) return r;
  REAL(access, int (*)(const char*, int));
  return real_access(path, mode);
}

int faccessat(int dirfd, const char* path, int mode, int flags) {
  int r = present(path) ? lumora_memory_access(path, mode) : -2;
  if (r != -2) return r;
  REAL(faccessat, int (*)(int, const char*, int, int));
  return real_faccessat(dirfd, path, mode, flags);
}
