#include "storage/memory_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
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

std::shared_ptr<MemoryImage> FindImage(const char* path) {
  if (path == nullptr || !hooks_installed().load(std::memory_order_acquire) ||
      count().load(std::memory_order_acquire) == 0)
    return nullptr;
  std::lock_guard<std::mutex> lock(registry_lock());
  for (CMemoryFile* file : files())
    if (std::strcmp(file->native_name().c_str(), path) == 0) return file->shared_image();
  return nullptr;
}

}  // namespace memory_registry

MemoryImage::~MemoryImage() {
  if (data != nullptr) munmap(data, size);
  if (fd >= 0) close(fd);
}

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
  memory_registry::InstallForkHandlers();
  std::unique_lock<std::mutex> lock(memory_registry::registry_lock(), std::try_to_lock);
  if (!lock.owns_lock()) throw -1;
  for (CMemoryFile* f : memory_registry::files())
    if (f->native_name_ == native_name_) throw -2;
  auto image = std::make_shared<MemoryImage>();
  image->size = size_;
  image->fd = memfd_create("lumora-memory-file", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (image->fd < 0) throw static_cast<int>(errno);
  // Copy the image in; an unreadable source range fails the write with EFAULT.
  std::uint32_t done = 0;
  while (done < size_) {
    ssize_t n = write(image->fd, data + done, size_ - done);
    if (n <= 0) throw -2;
    done += static_cast<std::uint32_t>(n);
  }
  // A plain read-write file to whoever looks at a descriptor opened on it.
  fchmod(image->fd, 0644);
  fcntl(image->fd, F_ADD_SEALS, F_SEAL_GROW | F_SEAL_SHRINK | F_SEAL_SEAL);
  if (size_ > 0) {
    // Populated up front, so the first read through a stream takes no page faults.
    void* mapped = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE,
                        image->fd, 0);
    if (mapped == MAP_FAILED) throw static_cast<int>(errno);
    image->data = static_cast<char*>(mapped);
  }
  image_ = std::move(image);
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
  // Streams and lookups still holding the image keep it alive on their own; so do
  // descriptors already opened on the path.
  image_.reset();
  if (owns_data_) delete[] data_;
}
