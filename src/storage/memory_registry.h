// The process-wide registry of memory files, read by the intercepted file functions.
//
// Calls arrive from any thread and even before main, so everything here is built on
// first use and the common case (nothing registered, or interception off) costs one
// atomic load. The lock is held only to find a name and take a reference to its
// image, never across a system call, and is taken around fork() so that a child
// never starts with it held.
#ifndef LUMORA_STORAGE_MEMORY_REGISTRY_H_
#define LUMORA_STORAGE_MEMORY_REGISTRY_H_

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

class CMemoryFile;
struct MemoryImage;

namespace memory_registry {

// Guards the list of memory files.
std::mutex& registry_lock();
// Newest first. Read and changed under registry_lock().
std::vector<CMemoryFile*>& files();
// Whether the file functions are intercepted at all.
std::atomic<bool>& hooks_installed();
// How many memory files are registered (the lock-free fast path).
std::atomic<int>& count();

// The image registered under exactly |path|, or null (also for a null |path|).
[[nodiscard]] std::shared_ptr<MemoryImage> FindImage(const char* path);

// Registers, once, the fork handlers that keep the registry's and the streams' locks
// free in a child (defined with the streams in memory_open.cpp).
void InstallForkHandlers();

}  // namespace memory_registry

#endif  // LUMORA_STORAGE_MEMORY_REGISTRY_H_
