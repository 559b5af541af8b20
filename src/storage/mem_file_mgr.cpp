#include "storage/mem_file_mgr.h"

#include <memory>
#include <mutex>
#include <vector>

#include "storage/memory_file.h"
#include "storage/memory_registry.h"
#include "storage/pack_file_mgr.h"

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
  CPackFileMgr::LoadDirectory();
  return InstallFileHooks();
}

bool CMemFileMgr::AddMemoryFile(const std::string& name, const char* data, std::uint32_t size,
                                bool owns_data, int* error) {
  if (data == nullptr || size == 0) return false;
  try {
    auto file = std::make_unique<CMemoryFile>(name, data, size, kArchiveAttribute);
    file->set_owns_data(owns_data);
    std::lock_guard<std::mutex> lock(table_mutex);
    table().push_back(std::move(file));
    return true;
  } catch (int code) {
    if (error != nullptr) *error = code;
    return false;
  }
}

bool CMemFileMgr::AddPackedFile(const std::string& name, const std::string& stored_name) {
  std::unique_ptr<char[]> buffer;
  std::int32_t size = 0;
  if (!CPackFileMgr::ExtractFile(stored_name, &buffer, &size)) return false;
  if (!AddMemoryFile(name, buffer.get(), static_cast<std::uint32_t>(size), true)) return false;
  buffer.release();  // the memory file owns it now
  return true;
}

void CMemFileMgr::RemoveAll() {
  std::lock_guard<std::mutex> lock(table_mutex);
  table().clear();
}

void CMemFileMgr::Shutdown() {
  RemoveAll();
  CPackFileMgr::ClearDirectory();
  RemoveFileHooks();
}

bool CMemFileMgr::InstallFileHooks() {
  memory_registry::hooks_installed().store(true, std::memory_order_release);
  return true;
}

bool CMemFileMgr::RemoveFileHooks() {
  std::lock_guard<std::mutex> lock(memory_registry::registry_lock());
  if (!memory_registry::files().empty()) return false;
  memory_registry::hooks_installed().store(false, std::memory_order_release);
  return true;
}
