#include "base/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace base {

Status OpenRegularFile(const std::string& path, UniqueFd* file) {
  file->Reset();
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd.valid()) return PosixError(path, errno);
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return PosixError(path, errno);
  if (!S_ISREG(st.st_mode)) return Status::NotRegular(path);
  if (fcntl(fd.get(), F_SETFL, fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK) != 0)
    return PosixError(path, errno);
  *file = std::move(fd);
  return Status::Ok();
}

Status ReadRegularFile(const std::string& path, std::size_t max_bytes, std::string* contents) {
  contents->clear();
  UniqueFd fd;
  if (Status s = OpenRegularFile(path, &fd); !s.ok()) return s;
  struct stat st;
  if (fstat(fd.get(), &st) == 0) {
    if (static_cast<std::size_t>(st.st_size) > max_bytes) return Status::TooLarge(path);
    contents->reserve(static_cast<std::size_t>(st.st_size));
  }
  // Read to the end rather than to the size seen, which may change meanwhile; the
  // limit holds either way.
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      contents->clear();
      return PosixError(path, error);
    }
    if (n == 0) return Status::Ok();
    if (contents->size() + static_cast<std::size_t>(n) > max_bytes) {
      contents->clear();
      return Status::TooLarge(path);
    }
    contents->append(buffer, static_cast<std::size_t>(n));
  }
}

bool IsReadableFile(const std::string& path) {
  UniqueFd fd;
  return OpenRegularFile(path, &fd).ok();
}

bool PathExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

Status ReadWholeFile(const std::string& path, std::string* contents) {
  contents->clear();
  UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (!file) return PosixError(path, errno);
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;)
    contents->append(buffer, n);
  // A folder opens but cannot be read.
  if (std::ferror(file.get())) return Status::IoError(path + ": cannot be read");
  return Status::Ok();
}

}  // namespace base
