// Entry point of the memory files: start-up (store directory and interception),
// registration of memory files, and their release.
#ifndef LUMORA_STORAGE_MEM_FILE_MGR_H_
#define LUMORA_STORAGE_MEM_FILE_MGR_H_

#include <cstdint>
#include <string>

namespace storage {

class CMemFileMgr {
 public:
  static constexpr std::uint32_t kArchiveAttribute = 32;

  virtual ~CMemFileMgr() = default;

  // Empties the table, reads the packed store's directory and installs the
  // interception; returns whether the interception was installed.
  [[nodiscard]] static bool Startup();
  // Registers |size| bytes at |data| under the full path |name|. False for null data,
  // a zero size, or a construction failure (its code in |error| when given). The bytes
  // are copied; with |owns_data| the buffer (made with new[]) is handed over and
  // released once copied, on success (on failure it stays the caller's).
  [[nodiscard]] static bool AddMemoryFile(const std::string& name, const char* data,
                                          std::uint32_t size, bool owns_data, int* error = nullptr);
  // Registers the store entry |stored_name| under the full path |name|.
  [[nodiscard]] static bool AddPackedFile(const std::string& name, const std::string& stored_name);
  // Releases every memory file this manager made.
  static void RemoveAll();
  static void Shutdown();

  [[nodiscard]] static bool InstallFileHooks();
  // False while any memory file is registered.
  [[nodiscard]] static bool RemoveFileHooks();
};

}  // namespace storage

#endif  // LUMORA_STORAGE_MEM_FILE_MGR_H_
