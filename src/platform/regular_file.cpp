#include "platform/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

int OpenRegularFile(const std::string& path, FileRead* why) {
  FileRead result = FileRead::kOk;
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  struct stat st;
  if (fd < 0) {
    result = errno == ENOENT || errno == ENOTDIR ? FileRead::kMissing : FileRead::kFailed;
  } else if (fstat(fd, &st) != 0) {
    result = FileRead::kFailed;
  } else if (!S_ISREG(st.st_mode)) {
    result = FileRead::kNotRegular;
  } else if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    result = FileRead::kFailed;
  }
  if (result != FileRead::kOk && fd >= 0) {
    close(fd);
    fd = -1;
  }
  if (why != nullptr) *why = result;
  return fd;
}

FileRead ReadRegularFile(const std::string& path, std::size_t max_bytes,
                         std::string* contents) {
  FileRead why;
  const int fd = OpenRegularFile(path, &why);
  if (fd < 0) return why;
  contents->clear();
  struct stat st;
  if (fstat(fd, &st) == 0) {
    if (static_cast<std::size_t>(st.st_size) > max_bytes) {
      close(fd);
      return FileRead::kTooLarge;
    }
    contents->reserve(static_cast<std::size_t>(st.st_size));
  }
  // Read to the end rather than to the size seen, which may change meanwhile; the
  // limit holds either way.
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) why = FileRead::kFailed;
    if (n <= 0) break;
    if (contents->size() + static_cast<std::size_t>(n) > max_bytes) {
      why = FileRead::kTooLarge;
      break;
    }
    contents->append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  if (why != FileRead::kOk) contents->clear();
  return why;
}

bool IsReadableFile(const std::string& path) {
  const int fd = OpenRegularFile(path);
  if (fd >= 0) close(fd);
  return fd >= 0;
}

}  // namespace platform
