// One memory file: a full path that does not exist on disk, bound to an image in
// memory. Every component of the process that opens that exact path reads the image
// (see file_interposer.c).
//
// The image lives in an anonymous memory file descriptor (memfd), sealed against
// growing and shrinking, and mapped once into the process. Descriptor opens of the
// path re-open that memfd through /proc/self/fd, so each gets its own position, reads
// stop at the image's end, writes go into the image in place, and no byte ever reaches
// a disk. Streams read and write the mapping directly (see memory_open.cpp).
#ifndef LUMORA_STORAGE_MEMORY_FILE_H_
#define LUMORA_STORAGE_MEMORY_FILE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// The bytes of one memory file. Shared by its registration and by every stream or
// open still using it, so that a memory file removed meanwhile stays valid for them.
struct MemoryImage {
  MemoryImage() = default;
  ~MemoryImage();  // unmaps the image and closes its memfd
  MemoryImage(const MemoryImage&) = delete;
  MemoryImage& operator=(const MemoryImage&) = delete;

  int fd = -1;             // the sealed memfd
  char* data = nullptr;    // the whole image, mapped shared and writable
  std::size_t size = 0;
};

class CMemoryFile {
 public:
  // Construction fails by throwing an integer code: -1 for an empty name, a null data
  // pointer or a registry that another thread holds; -2 for an unreadable range or a
  // name already registered; the system's error code when the name cannot be
  // converted. The data is copied into the image; with |owns_data| set by the manager
  // the original buffer is released with the memory file.
  CMemoryFile(const std::string& name, const char* data, std::uint32_t size,
              std::uint32_t attributes);
  CMemoryFile(const std::u16string& name, const char* data, std::uint32_t size,
              std::uint32_t attributes);
  virtual ~CMemoryFile();
  CMemoryFile(const CMemoryFile&) = delete;
  CMemoryFile& operator=(const CMemoryFile&) = delete;

  void set_owns_data(bool owns) { owns_data_ = owns; }
  const std::u16string& name() const { return name_; }
  const std::string& native_name() const { return native_name_; }
  std::uint32_t size() const { return size_; }
  std::uint32_t attributes() const { return attributes_; }
  // The image (shared with every open of the path).
  const char* image() const { return image_->data; }
  int fd() const { return image_->fd; }
  const std::shared_ptr<MemoryImage>& shared_image() const { return image_; }

 private:
  void Init(const char* data);

  std::u16string name_;
  std::string native_name_;  // the path as the file functions see it (UTF-8)
  const char* data_;
  std::uint32_t size_;
  std::uint32_t size_high_ = 0;
  std::uint32_t attributes_;
  bool owns_data_ = false;
  std::shared_ptr<MemoryImage> image_;
};

#endif  // LUMORA_STORAGE_MEMORY_FILE_H_
