// Template part of memory_registry.h.
#ifndef LUMORA_STORAGE_MEMORY_REGISTRY_INL_H_
#define LUMORA_STORAGE_MEMORY_REGISTRY_INL_H_

#include <cstring>

#include "storage/memory_file.h"

namespace memory_registry {

template <typename T, typename F>
T WithMemoryFile(const char* path, T otherwise, F use) {
  if (path == nullptr || !hooks_installed().load(std::memory_order_acquire) ||
      count().load(std::memory_order_acquire) == 0)
    return otherwise;
  std::lock_guard<std::mutex> lock(registry_lock());
  for (CMemoryFile* file : files())
    if (std::strcmp(file->native_name().c_str(), path) == 0) return use(*file);
  return otherwise;
}

}  // namespace memory_registry

#endif  // LUMORA_STORAGE_MEMORY_REGISTRY_INL_H_
