// The process-wide registry of memory files, read by the intercepted file functions.
//
// Calls arrive from any thread and even before main, so everything here is built on
// first use and the common case (nothing registered, or interception off) costs one
// atomic load. A lookup holds the lock only to find a name and take a reference to its
// image, never across a system call; a registration holds it while it makes the image,
// so that a name is never registered twice. The lock is taken around fork() so that a
// child never starts with it held.
#ifndef LUMORA_STORAGE_MEMORY_REGISTRY_H_
#define LUMORA_STORAGE_MEMORY_REGISTRY_H_

#include <sys/types.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace storage {

class CMemoryFile;
class MemoryImage;

namespace memory_registry {

// Guards the list of memory files.
std::mutex& registry_lock();

// The list, newest first. Only with registry_lock() held:
// whether a memory file is registered under |native_name|;
[[nodiscard]] bool Contains(const std::string& native_name);
// whether none is registered at all;
[[nodiscard]] bool IsEmpty();
// puts |file| at the head of the list;
void Insert(CMemoryFile* file);
// takes |file| out of the list.
void Erase(CMemoryFile* file);

// Whether the file functions are intercepted at all.
std::atomic<bool>& hooks_installed();

// The image registered under exactly |path|, or null (also for a null |path|).
[[nodiscard]] std::shared_ptr<MemoryImage> FindImage(const char* path);
// Whether any memory file is registered while the interception is on (lock-free).
[[nodiscard]] bool AnyRegistered();
// The registered image that is the file |device| and |inode| name, or null.
[[nodiscard]] std::shared_ptr<MemoryImage> FindImageOf(dev_t device, ino_t inode);

// Registers, once, the fork handlers that keep the registry's and the streams' locks
// free in a child (defined with the streams in memory_open.cpp).
void InstallForkHandlers();

}  // namespace memory_registry
}  // namespace storage

#endif  // LUMORA_STORAGE_MEMORY_REGISTRY_H_
