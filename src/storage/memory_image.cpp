#include "storage/memory_image.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace storage {
namespace {

base::Status SystemFailure(const char* call, int* error_number) {
  *error_number = errno;
  return base::PosixError(call, *error_number);
}

}  // namespace

MemoryImage::MemoryImage(base::UniqueFd fd, std::size_t size) : fd_(std::move(fd)), size_(size) {}

MemoryImage::~MemoryImage() {
  if (data_ != nullptr) munmap(data_, size_);
}

base::Status MemoryImage::Create(const char* data, std::size_t size,
                                 std::shared_ptr<MemoryImage>* image, int* error_number) {
  base::UniqueFd fd(memfd_create("lumora-memory-file", MFD_CLOEXEC | MFD_ALLOW_SEALING));
  if (!fd.valid()) return SystemFailure("memfd_create", error_number);
  // Owned from here on: whatever fails below closes the memfd. (The constructor is
  // private, out of make_shared's reach.)
  std::shared_ptr<MemoryImage> made(new MemoryImage(std::move(fd), size));
  // Copy the bytes in; an unreadable source range fails the write with EFAULT.
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = write(made->fd(), data + done, size - done);
    if (n <= 0) return base::Status::Invalid("the memory file's bytes cannot be read");
    done += static_cast<std::size_t>(n);
  }
  // A plain read-write file to whoever looks at a descriptor opened on it.
  if (fchmod(made->fd(), 0644) != 0) return SystemFailure("fchmod", error_number);
  struct stat st;
  if (fstat(made->fd(), &st) != 0) return SystemFailure("fstat", error_number);
  made->device_ = st.st_dev;
  made->inode_ = st.st_ino;
  if (fcntl(made->fd(), F_ADD_SEALS, F_SEAL_GROW | F_SEAL_SHRINK | F_SEAL_SEAL) != 0)
    return SystemFailure("fcntl", error_number);
  if (size > 0) {
    // Populated up front, so the first read through a stream takes no page faults.
    void* mapped =
        mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, made->fd(), 0);
    if (mapped == MAP_FAILED) return SystemFailure("mmap", error_number);
    made->data_ = static_cast<char*>(mapped);
  }
  *image = std::move(made);
  return base::Status::Ok();
}

}  // namespace storage
