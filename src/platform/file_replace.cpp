#include "platform/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/folders.h"

namespace platform {
namespace {

// Removes the temporary file unless it was handed over by rename.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& target) {
    std::size_t slash = target.rfind('/');
    std::string folder = slash == std::string::npos ? std::string(".")
                         : slash == 0                ? std::string("/")
                                                     : target.substr(0, slash);
    std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    path_.append(folder).append("/.").append(name).append(".XXXXXX");
    fd_ = mkostemp(path_.data(), O_CLOEXEC);
  }
  ~TemporaryFile() {
    if (fd_ >= 0) close(fd_);
    if (!kept_ && fd_ >= 0) unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  bool ok() const { return fd_ >= 0; }

  bool Write(std::string_view contents) {
    const char* p = contents.data();
    std::size_t left = contents.size();
    while (left > 0) {
      ssize_t n = write(fd_, p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      p += n;
      left -= static_cast<std::size_t>(n);
    }
    return true;
  }

  // Gives the file the mode of the one it replaces (or the usual mode of a new
  // file), flushes it and renames it over |target|.
  bool Commit(const std::string& target) {
    struct stat old;
    mode_t mode = stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    if (fchmod(fd_, mode) != 0 || fsync(fd_) != 0) return false;
    if (rename(path_.c_str(), target.c_str()) != 0) return false;
    kept_ = true;
    return true;
  }

 private:
  std::string path_;
  int fd_ = -1;
  bool kept_ = false;
};

}  // namespace

bool ReplaceFileContents(const std::string& path, std::string_view contents) {
  TemporaryFile temp(path);
  return temp.ok() && temp.Write(contents) && temp.Commit(path);
}

bool CopyFileReplacing(const std::string& from, const std::string& to) {
  struct stat a, b;
  if (stat(from.c_str(), &a) == 0 && stat(to.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
      a.st_ino == b.st_ino)
    return true;
  std::string contents;
  if (!ReadWholeFile(from, &contents)) return false;
  return ReplaceFileContents(to, contents);
}

}  // namespace platform
