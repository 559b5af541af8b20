// The owner's list of transfers, in the order they were added, behind one lock. The
// list owns its transfers: removing one deletes it, which cancels it and waits for its
// thread.
#ifndef LUMORA_NET_INET_FILES_H_
#define LUMORA_NET_INET_FILES_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/inet_file.h"

namespace net {

class CInetFiles {
 public:
  CInetFiles() = default;
  virtual ~CInetFiles();
  CInetFiles(const CInetFiles&) = delete;
  CInetFiles& operator=(const CInetFiles&) = delete;

  void Add(std::unique_ptr<CInetFile> transfer);
  std::size_t GetCount() const;
  // The first transfer, or null. The pointer stays valid until the transfer is removed.
  [[nodiscard]] CInetFile* GetFront() const;
  // Removes (and deletes) every entry that is |transfer|.
  void Remove(const CInetFile* transfer);
  // The first transfer whose display name is |name| without regard to letter case
  // (code page, double-byte characters compared as they are); null if none.
  [[nodiscard]] CInetFile* FindByName(const std::string& name) const;
  // The transfer with this id, or null.
  [[nodiscard]] CInetFile* FindById(std::uint64_t id) const;
  // The first transfer, in list order, for which |test| holds (called under the list's
  // lock); null if none.
  [[nodiscard]] CInetFile* Find(const std::function<bool(const CInetFile&)>& test) const;
  // Whether |test| holds for some transfer (called under the list's lock).
  [[nodiscard]] bool Any(const std::function<bool(const CInetFile&)>& test) const;
  // Deletes all transfers, first to last.
  void DeleteAll();

 private:
  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<CInetFile>> transfers_;
};

}  // namespace net

#endif  // LUMORA_NET_INET_FILES_H_
