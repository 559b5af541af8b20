#include "storage/memory_registry.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "storage/memory_file.h"
#include "storage/memory_image.h"

namespace storage::memory_registry {
namespace {

// Newest first; read and changed under registry_lock(). Never destroyed: file
// functions are called until the process is gone.
std::vector<CMemoryFile*>& files() {
  static auto* list = new std::vector<CMemoryFile*>;
  return *list;
}

// How many memory files are registered (the lock-free fast path).
std::atomic<int>& count() {
  static std::atomic<int> n{0};
  return n;
}

}  // namespace

std::mutex& registry_lock() {
  static auto* lock = new std::mutex;  // never destroyed: used until exit
  return *lock;
}

bool Contains(const std::string& native_name) {
  return std::any_of(files().begin(), files().end(),
                     [&](const CMemoryFile* file) { return file->native_name() == native_name; });
}

bool IsEmpty() { return files().empty(); }

void Insert(CMemoryFile* file) {
  files().insert(files().begin(), file);
  count().fetch_add(1, std::memory_order_release);
}

void Erase(CMemoryFile* file) {
  auto& list = files();
  list.erase(std::remove(list.begin(), list.end(), file), list.end());
  count().fetch_sub(1, std::memory_order_release);
}

std::atomic<bool>& hooks_installed() {
  static std::atomic<bool> installed{false};
  return installed;
}

bool AnyRegistered() {
  return hooks_installed().load(std::memory_order_acquire) &&
         count().load(std::memory_order_acquire) != 0;
}

std::shared_ptr<MemoryImage> FindImage(const char* path) {
  if (path == nullptr || !AnyRegistered()) return nullptr;
  std::lock_guard<std::mutex> lock(registry_lock());
  for (const CMemoryFile* file : files())
    if (std::strcmp(file->native_name().c_str(), path) == 0) return file->shared_image();
  return nullptr;
}

std::shared_ptr<MemoryImage> FindImageOf(dev_t device, ino_t inode) {
  if (!AnyRegistered()) return nullptr;
  std::lock_guard<std::mutex> lock(registry_lock());
  for (const CMemoryFile* file : files()) {
    const std::shared_ptr<MemoryImage>& image = file->shared_image();
    if (image && image->Is(device, inode)) return image;
  }
  return nullptr;
}

}  // namespace storage::memory_registry
