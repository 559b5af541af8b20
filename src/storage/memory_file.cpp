#include "storage/memory_file.h"

#include <cerrno>

#include "base/ansi.h"
#include "storage/memory_image.h"
#include "storage/memory_registry.h"

namespace storage {

CMemoryFile::CMemoryFile(const std::string& name, const char* data, std::uint32_t size,
                         std::uint32_t attributes)
    : size_(size), attributes_(attributes) {
  if (name.empty() || data == nullptr) throw -1;
  if (!ansi::ToUtf16(name, &name_)) throw static_cast<int>(EILSEQ);
  native_name_ = ansi::NativePath(name);
  Register(data);
}

CMemoryFile::CMemoryFile(const std::u16string& name, const char* data, std::uint32_t size,
                         std::uint32_t attributes)
    : name_(name), size_(size), attributes_(attributes) {
  std::string text;
  if (name.empty() || data == nullptr) throw -1;
  if (!ansi::FromUtf16(name, &text)) throw static_cast<int>(EILSEQ);
  native_name_ = ansi::NativePath(text);
  Register(data);
}

void CMemoryFile::Register(const char* data) {
  int error_number = 0;
  const base::Status status = Link(data, &error_number);
  if (status.ok()) return;
  if (error_number != 0) throw error_number;
  throw status.code() == base::Status::Code::kUnavailable ? -1 : -2;
}

base::Status CMemoryFile::Link(const char* data, int* error_number) {
  memory_registry::InstallForkHandlers();
  // Tried, never waited for: a registration never blocks on another thread.
  std::unique_lock<std::mutex> lock(memory_registry::registry_lock(), std::try_to_lock);
  if (!lock.owns_lock())
    return base::Status::Unavailable("another thread holds the memory-file registry");
  if (memory_registry::Contains(native_name_))
    return base::Status::Invalid(native_name_ + ": already a memory file");
  if (base::Status s = MemoryImage::Create(data, size_, &image_, error_number); !s.ok()) return s;
  memory_registry::Insert(this);
  return base::Status::Ok();
}

CMemoryFile::~CMemoryFile() {
  {
    std::lock_guard<std::mutex> lock(memory_registry::registry_lock());
    memory_registry::Erase(this);
  }
  // Streams and lookups still holding the image keep it alive on their own; so do
  // descriptors already opened on the path.
  image_.reset();
}

}  // namespace storage
