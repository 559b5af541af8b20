#include "storage/memory_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>

#include "platform/ansi.h"
#include "storage/memory_registry.h"

namespace memory_registry {

std::mutex& registry_lock() {
  static std::mutex* lock = new std::mutex;  // never destroyed: used until exit
  return *lock;
}
std::vector<CMemoryFile*>& files() {
  static auto* list = new std::vector<CMemoryFile*>;
  return *list;
}
std::atomic<bool>& hooks_installed() {
  static std::atomic<bool> installed{false};
  return installed;
}
std::atomic<int>& count() {
  static std::atomic<int> n{0};
  return n;
}

}  // namespace memory_registry

CMemoryFile::CMemoryFile(const std::string& name, const char* data, std::uint32_t size,
                         std::uint32_t attributes)
    : data_(data), size_(size), attributes_(attributes) {
  if (name.empty() || data == nullptr) throw -1;
  if (!ansi::ToUtf16(name, &name_)) throw static_cast<int>(EILSEQ);
  native_name_ = ansi::NativePath(name);
  Init(data);
}

CMemoryFile::CMemoryFile(const std::u16string& name, const char* data, std::uint32_t size,
                         std::uint32_t attributes)
    : name_(name), data_(data), size_(size), attributes_(attributes) {
  std::string text;
  if (name.empty() || data == nullptr) throw -1;
  if (!ansi::FromUtf16(name, &text)) throw static_cast<int>(EILSEQ);
  native_name_ = ansi::NativePath(text);
  Init(data);
}

void CMemoryFile::Init(const char* data) {
  std::unique_lock<std::mutex> lock(memory_registry::registry_lock(), std::try_to_lock);
  if (!lock.owns_lock()) throw -1;
  for (CMemoryFile* f : memory_registry::files())
    if (f->native_name_ == native_name_) throw -2;
  fd_ = memfd_create("lumora-memory-file", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (fd_ < 0) throw static_cast<int>(errno);
  // Copy the image in; an unreadable source range fails the write with EFAULT.
  std::uint32_t done = 0;
  while (done < size_) {
    ssize_t n = write(fd_, data + done, size_ - done);
    if (n <= 0) {
      close(fd_);
      throw -2;
    }
    done += static_cast<std::uint32_t>(n);
  }
  fcntl(fd_, F_ADD_SEALS, F_SEAL_GROW | F_SEAL_SHRINK | F_SEAL_SEAL);
  void* image = size_ > 0 ? mmap(nullptr, size_, PROT_READ, MAP_SHARED, fd_, 0) : nullptr;
  image_ = image == MAP_FAILED ? nullptr : static_cast<char*>(image);
  memory_registry::files().insert(memory_registry::files().begin(), this);
  memory_registry::count().fetch_add(1, std::memory_order_release);
}

CMemoryFile::~CMemoryFile() {
  {
    std::lock_guard<std::mutex> lock(memory_registry::registry_lock());
    auto& list = memory_registry::files();
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    memory_registry::count().fetch_sub(1, std::memory_order_release);
  }
  // Descriptors already opened on the path keep the image alive on their own.
  if (image_ != nullptr) munmap(image_, size_);
  if (fd_ >= 0) close(fd_);
  if (owns_data_) delete[] data_;
}
