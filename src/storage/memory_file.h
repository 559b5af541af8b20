// One memory file: a full path that does not exist on disk, bound to an image in
// memory. Every component of the process that opens that exact path reads the image
// (see file_interposer.c).
//
// The image (memory_image.h) is the one copy of the bytes, made when the memory file
// is: the memory file never keeps the buffer it was given. Descriptor opens of the path
// re-open the image's memfd through /proc/self/fd, so each gets its own position, reads
// stop at the image's end, writes go into the image in place, and no byte ever reaches
// a disk. Streams read and write the mapping directly (see memory_open.cpp).
#ifndef LUMORA_STORAGE_MEMORY_FILE_H_
#define LUMORA_STORAGE_MEMORY_FILE_H_

#include <cstdint>
#include <memory>
#include <string>

#include "base/status.h"

namespace storage {

class MemoryImage;

class CMemoryFile {
 public:
  // Construction fails by throwing an integer code: -1 for an empty name, a null data
  // pointer or a registry that another thread holds; -2 for an unreadable range or a
  // name already registered; the system's error code when the name cannot be
  // converted or the image cannot be made. The |size| bytes at |data| are copied into
  // the image; the buffer stays the caller's.
  CMemoryFile(const std::string& name, const char* data, std::uint32_t size,
              std::uint32_t attributes);
  CMemoryFile(const std::u16string& name, const char* data, std::uint32_t size,
              std::uint32_t attributes);
  virtual ~CMemoryFile();
  CMemoryFile(const CMemoryFile&) = delete;
  CMemoryFile& operator=(const CMemoryFile&) = delete;

  const std::u16string& name() const { return name_; }
  // The path as the file functions see it (UTF-8).
  const std::string& native_name() const { return native_name_; }
  std::uint32_t size() const { return size_; }
  std::uint32_t attributes() const { return attributes_; }
  // The image, shared with every open of the path.
  const std::shared_ptr<MemoryImage>& shared_image() const { return image_; }

 private:
  // Makes the image of |data| and puts this file at the head of the registry; throws
  // the construction's code when that fails.
  void Register(const char* data);
  // The same, reporting the failure: Unavailable when another thread holds the
  // registry, Invalid for a name already registered or bytes that cannot be read, a
  // system call's failure (its errno in |*error_number|) otherwise.
  [[nodiscard]] base::Status Link(const char* data, int* error_number);

  std::u16string name_;
  std::string native_name_;
  std::uint32_t size_;
  std::uint32_t attributes_;
  std::shared_ptr<MemoryImage> image_;
};

}  // namespace storage

#endif  // LUMORA_STORAGE_MEMORY_FILE_H_
