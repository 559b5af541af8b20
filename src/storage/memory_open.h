/* The C side of the file interception asks the registry through these calls. Each
   answers -2 when |path| (or |stream|) is not a memory file's, so the caller goes on to
   the system; a null |path| is never a memory file's. They are called from inside the
   C library's functions, even before main, and never throw. */
#ifndef LUMORA_STORAGE_MEMORY_OPEN_H_
#define LUMORA_STORAGE_MEMORY_OPEN_H_

#include <stdio.h>

#ifdef __cplusplus
#define LUMORA_MEMORY_NOEXCEPT noexcept
extern "C" {
#else
#define LUMORA_MEMORY_NOEXCEPT
#endif

struct stat;
struct statx;

/* A new descriptor on the memory file's image with its own position (-1 and errno on
   failure). Creation, truncation and append flags are ignored: the image never changes
   size. */
int lumora_memory_open(const char* path, int flags) LUMORA_MEMORY_NOEXCEPT;
/* A stream on the memory file for the stdio |mode| in |*stream| (null and errno on
   failure): 0. "r" reads only; every other mode reads and writes in place from the
   start. The stream serves the image straight from memory and makes a descriptor only
   when lumora_memory_fileno asks for one. */
int lumora_memory_fopen(const char* path, const char* mode, FILE** stream) LUMORA_MEMORY_NOEXCEPT;
/* The descriptor of a stream that lumora_memory_fopen made, at the stream's position;
   -1 and errno when none can be made. */
int lumora_memory_fileno(FILE* stream) LUMORA_MEMORY_NOEXCEPT;
/* Copies up to |bytes| from the position of a stream that lumora_memory_fopen made
   straight out of the image, when the C library holds nothing buffered for it; the
   number copied (0 for any other stream). The caller holds the stream's lock. */
size_t lumora_memory_read_direct(FILE* stream, void* out, size_t bytes) LUMORA_MEMORY_NOEXCEPT;
/* lseek on a descriptor opened on a registered memory file (by open, or by fileno of
   its stream): the position lands inside the image, as a stream's does, a target
   before the start on the start and one past the end on the end; the new offset, or -1
   and errno. -2 for every other descriptor and for whence other than SEEK_SET, SEEK_CUR
   and SEEK_END; without a registered memory file that is known without a system call. */
long long lumora_memory_lseek(int fd, long long offset, int whence) LUMORA_MEMORY_NOEXCEPT;
/* Fills |st| for the memory file: 0, or -1 and errno. It is reported as a plain
   read-write regular file (mode 0644, one link, the image's size). */
int lumora_memory_stat(const char* path, struct stat* st) LUMORA_MEMORY_NOEXCEPT;
int lumora_memory_statx(const char* path, unsigned int mask,
                        struct statx* stx) LUMORA_MEMORY_NOEXCEPT;
/* Whether the memory file allows |mode| (R_OK, W_OK, X_OK, F_OK): 0 or -1 (EACCES for
   X_OK, as for mode 0644). */
int lumora_memory_access(const char* path, int mode) LUMORA_MEMORY_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* LUMORA_STORAGE_MEMORY_OPEN_H_ */
