// The bytes of one memory file, in an anonymous memory file descriptor (memfd) sealed
// against growing and shrinking and mapped once into the process. This is the one copy
// of the bytes: they are copied in when the image is made, and the buffer they came
// from is the caller's to free at once.
//
// An image is shared by its memory file's registration and by every stream or open
// still using it, so that a memory file removed meanwhile stays valid for them.
#ifndef LUMORA_STORAGE_MEMORY_IMAGE_H_
#define LUMORA_STORAGE_MEMORY_IMAGE_H_

#include <sys/types.h>

#include <cstddef>
#include <memory>

#include "base/status.h"
#include "base/unique_file.h"

namespace storage {

class MemoryImage {
 public:
  // Makes the image of the |size| bytes at |data| in |*image|. Invalid when those bytes
  // cannot be read (a range that is not mapped); otherwise the failure of a system
  // call, whose errno also goes to |*error_number|.
  [[nodiscard]] static base::Status Create(const char* data, std::size_t size,
                                           std::shared_ptr<MemoryImage>* image, int* error_number);

  ~MemoryImage();  // unmaps the image; its memfd closes with it
  MemoryImage(const MemoryImage&) = delete;
  MemoryImage& operator=(const MemoryImage&) = delete;

  // The sealed memfd, for re-opening and inspecting the image.
  int fd() const { return fd_.get(); }
  // The whole image, mapped shared and writable (null for an empty one).
  char* data() const { return data_; }
  std::size_t size() const { return size_; }
  // Whether the file |device| and |inode| name (as fstat tells them of a descriptor) is
  // this image: true for every descriptor opened on it.
  bool Is(dev_t device, ino_t inode) const { return device == device_ && inode == inode_; }

 private:
  MemoryImage(base::UniqueFd fd, std::size_t size);

  base::UniqueFd fd_;
  char* data_ = nullptr;  // mapped once the bytes are in
  std::size_t size_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

}  // namespace storage

#endif  // LUMORA_STORAGE_MEMORY_IMAGE_H_
