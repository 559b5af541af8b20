/* The C side of the file interception asks the registry through these calls. Each
   answers -2 when |path| is not a memory file, so the caller goes on to the system. */
#ifndef LUMORA_STORAGE_MEMORY_OPEN_H_
#define LUMORA_STORAGE_MEMORY_OPEN_H_

#ifdef __cplusplus
extern "C" {
#endif

struct stat;
struct statx;

/* A new descriptor on the memory file's image with its own position (-1 and errno on
   failure). Creation, truncation and append flags are ignored: the image never changes
   size. */
int lumora_memory_open(const char* path, int flags);
/* Fills |st| for the memory file: 0. */
int lumora_memory_stat(const char* path, struct stat* st);
int lumora_memory_statx(const char* path, unsigned int mask, struct statx* stx);
/* Whether the memory file allows |mode| (R_OK, W_OK, X_OK, F_OK): 0 or -1 (EACCES). */
int lumora_memory_access(const char* path, int mode);

#ifdef __cplusplus
}
#endif

#endif /* LUMORA_STORAGE_MEMORY_OPEN_H_ */
