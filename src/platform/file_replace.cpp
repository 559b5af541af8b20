#include "platform/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <vector>

#include "platform/regular_file.h"

namespace platform {
namespace {

// The folder part of |path| ("." when it has none).
std::string FolderOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The file that a write to |path| must replace: |path| itself, or the end of the chain
// of symbolic links that starts there (which need not exist yet). False for a chain
// that loops or runs too long.
bool ResolveLinks(const std::string& path, std::string* target) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      *target = current;
      return true;
    }
    std::vector<char> link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
    ssize_t n = readlink(current.c_str(), link.data(), link.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= link.size()) return false;
    std::string next(link.data(), static_cast<std::size_t>(n));
    current = next[0] == '/' ? next : FolderOf(current) + "/" + next;
  }
  return false;
}

// Removes the temporary file unless it was handed over by rename.
class TemporaryFile {
 public:
  // Creates the file beside |target| with mode 0666, so that the umask gives it the
  // usual mode of a new file.
  explicit TemporaryFile(const std::string& target) {
    static thread_local std::mt19937 random{std::random_device{}()};
    static constexpr char kLetters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::size_t slash = target.rfind('/');
    std::string base = FolderOf(target) + "/." +
                       (slash == std::string::npos ? target : target.substr(slash + 1)) + ".";
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
      path_ = base;
      for (int i = 0; i < 6; ++i) path_ += kLetters[random() % (sizeof kLetters - 1)];
      fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
      if (fd_ < 0 && errno != EEXIST) break;
    }
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

  // Gives the file the mode of the one it replaces (a new file keeps the mode it was
  // made with), flushes it and renames it over |target|.
  bool Commit(const std::string& target, const struct stat* old) {
    if (old != nullptr && fchmod(fd_, old->st_mode & 07777) != 0) return false;
    if (fsync(fd_) != 0) return false;
    if (rename(path_.c_str(), target.c_str()) != 0) return false;
    kept_ = true;
    return true;
  }

 private:
  std::string path_;
  int fd_ = -1;
  bool kept_ = false;
};

// Prepares the replacement of |path|: the file to replace and, when it exists, its
// status. False when it must not be replaced.
bool PrepareTarget(const std::string& path, std::string* target, struct stat* old,
                   bool* exists) {
  if (!ResolveLinks(path, target)) return false;
  if (lstat(target->c_str(), old) != 0) {
    *exists = false;
    return errno == ENOENT;
  }
  *exists = true;
  // Read-only means no write permission for anyone, even for a user (such as root)
  // whom the system would let write anyway.
  return S_ISREG(old->st_mode) && (old->st_mode & 0222) != 0 &&
         access(target->c_str(), W_OK) == 0;
}

// Writes what |fill| puts into the temporary file as the new content of |path|.
template <typename Fill>
bool Replace(const std::string& path, Fill fill) {
  std::string target;
  struct stat old;
  bool exists = false;
  if (!PrepareTarget(path, &target, &old, &exists)) return false;
  TemporaryFile temp(target);
  return temp.ok() && fill(temp) && temp.Commit(target, exists ? &old : nullptr);
}

}  // namespace

bool ReplaceFileContents(const std::string& path, std::string_view contents) {
  return Replace(path, [&](TemporaryFile& temp) { return temp.Write(contents); });
}

bool CopyFileReplacing(const std::string& from, const std::string& to) {
  const int source = OpenRegularFile(from);
  if (source < 0) return false;
  struct stat a, b;
  bool same = fstat(source, &a) == 0 && stat(to.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
              a.st_ino == b.st_ino;
  bool ok = same || Replace(to, [&](TemporaryFile& temp) {
              char buffer[65536];
              for (;;) {
                ssize_t n = read(source, buffer, sizeof buffer);
                if (n < 0 && errno == EINTR) continue;
                if (n < 0) return false;
                if (n == 0) return true;
                if (!temp.Write(std::string_view(buffer, static_cast<std::size_t>(n))))
                  return false;
              }
            });
  close(source);
  return ok;
}

}  // namespace platform
