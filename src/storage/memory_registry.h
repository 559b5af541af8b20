// The process-wide registry of memory files, read by the intercepted file functions.
//
// Calls arrive from any thread and even before main, so everything here is built on
// first use and the common case (nothing registered, or interception off) costs one
// atomic load.
#ifndef LUMORA_STORAGE_MEMORY_REGISTRY_H_
#define LUMORA_STORAGE_MEMORY_REGISTRY_H_

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

class CMemoryFile;

namespace memory_registry {

// Guards the list of memory files.
std::mutex& registry_lock();
// Newest first. Read and changed under registry_lock().
std::vector<CMemoryFile*>& files();
// Whether the file functions are intercepted at all.
std::atomic<bool>& hooks_installed();
// How many memory files are registered (the lock-free fast path).
std::atomic<int>& count();

// Calls |use| with the memory file registered under exactly |path|, holding the
// registry lock, and returns its result; returns |otherwise| when there is none.
template <typename T, typename F>
T WithMemoryFile(const char* path, T otherwise, F use);

}  // namespace memory_registry

#include "storage/memory_registry_inl.h"

#endif  // LUMORA_STORAGE_MEMORY_REGISTRY_H_
