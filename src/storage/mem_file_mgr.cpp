#include "storage/mem_file_mgr.h"

#include <cerrno>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "storage/memory_file.h"
#include "storage/memory_registry.h"
#include "storage/pack_file_mgr.h"

namespace storage {
namespace {

// Every memory file the manager made, released by RemoveAll.
std::mutex table_mutex;
std::vector<std::unique_ptr<CMemoryFile>>& table() {
  static std::vector<std::unique_ptr<CMemoryFile>> files;
  return files;
}

}  // namespace

bool CMemFileMgr::Startup() {
  RemoveAll();
  // A program without a store simply has no movie to serve, which the player shows:
  // nothing here depends on the store.
  (void)CPackFileMgr::LoadDirectory();
  return InstallFileHooks();
}

bool CMemFileMgr::AddMemoryFile(const std::string& name, const char* data, std::uint32_t size,
                                bool owns_data, int* error) {
  if (data == nullptr || size == 0) return false;
  try {
    auto file = std::make_unique<CMemoryFile>(name, data, size, kArchiveAttribute);
    std::lock_guard<std::mutex> lock(table_mutex);
    table().push_back(std::move(file));
  } catch (int code) {
    if (error != nullptr) *error = code;
    return false;
  } catch (const std::bad_alloc&) {
    if (error != nullptr) *error = ENOMEM;
    return false;
  }
  // The image holds its own copy: a buffer handed over is released at once.
  if (owns_data) delete[] data;
  return true;
}

bool CMemFileMgr::AddPackedFile(const std::string& name, const std::string& stored_name) {
  std::unique_ptr<char[]> buffer;
  std::int32_t size = 0;
  if (!CPackFileMgr::ExtractFile(stored_name, &buffer, &size)) return false;
  // Copied into the image; the extracted buffer goes when this returns.
  return AddMemoryFile(name, buffer.get(), static_cast<std::uint32_t>(size), false);
}

void CMemFileMgr::RemoveAll() {
  std::lock_guard<std::mutex> lock(table_mutex);
  table().clear();
}

void CMemFileMgr::Shutdown() {
  RemoveAll();
  CPackFileMgr::ClearDirectory();
  // With a memory file that this manager did not make still registered, the
  // interception stays, as it must: the result says only that.
  (void)RemoveFileHooks();
}

bool CMemFileMgr::InstallFileHooks() {
  memory_registry::hooks_installed().store(true, std::memory_order_release);
  return true;
}

bool CMemFileMgr::RemoveFileHooks() {
  std::lock_guard<std::mutex> lock(memory_registry::registry_lock());
  if (!memory_registry::IsEmpty()) return false;
  memory_registry::hooks_installed().store(false, std::memory_order_release);
  return true;
}

}  // namespace storage
