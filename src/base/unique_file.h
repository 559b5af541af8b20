// Owners of open files: UniqueFd closes a descriptor, UniqueFile a C stream, when
// they go. Both move and never copy.
#ifndef LUMORA_BASE_UNIQUE_FILE_H_
#define LUMORA_BASE_UNIQUE_FILE_H_

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <utility>

namespace base {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.fd_, -1));
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes the descriptor held (its close error is of no use: nothing was written
  // through a descriptor whose result matters without an explicit check) and takes |fd|.
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Gives the descriptor up to the caller, who closes it.
  [[nodiscard]] int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_ = -1;
};

struct FileCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

// A stream that is closed when it goes. A writer that must know whether its data
// reached the file calls std::fclose(file.release()) itself and looks at the result.
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace base

#endif  // LUMORA_BASE_UNIQUE_FILE_H_
