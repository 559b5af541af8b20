#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <vector>

#include "platform/files.h"

namespace platform {
namespace {

// The folder part of |path| ("." when it has none).
std::string FolderOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The file that a write to |path| must replace: |path| itself, or the end of the chain
// of symbolic links that starts there (which need not exist yet). Invalid for a chain
// that loops or runs too long.
Status ResolveLinks(const std::string& path, std::string* target) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      *target = current;
      return Status::Ok();
    }
    std::vector<char> link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
    ssize_t n = readlink(current.c_str(), link.data(), link.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= link.size())
      return Status::IoError(current + ": the link cannot be read");
    std::string next(link.data(), static_cast<std::size_t>(n));
    current = next[0] == '/' ? next : FolderOf(current) + "/" + next;
  }
  return Status::Invalid(path + ": too many levels of symbolic links");
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
    for (int attempt = 0; attempt < 100 && !fd_.valid(); ++attempt) {
      path_ = base;
      for (int i = 0; i < 6; ++i) path_ += kLetters[random() % (sizeof kLetters - 1)];
      fd_.Reset(open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
      if (!fd_.valid() && errno != EEXIST) break;
    }
    if (!fd_.valid()) status_ = PosixError(path_, errno);
  }
  ~TemporaryFile() {
    const bool made = fd_.valid();
    fd_.Reset();
    if (!kept_ && made) unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  // Whether the file could be made.
  const Status& status() const { return status_; }

  Status Write(std::string_view contents) {
    const char* p = contents.data();
    std::size_t left = contents.size();
    while (left > 0) {
      ssize_t n = write(fd_.get(), p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return PosixError(path_, errno);
      if (n == 0) return Status::IoError(path_ + ": nothing written");
      p += n;
      left -= static_cast<std::size_t>(n);
    }
    return Status::Ok();
  }

  // Gives the file the mode of the one it replaces (a new file keeps the mode it was
  // made with), flushes it and renames it over |target|.
  Status Commit(const std::string& target, const struct stat* old) {
    if (old != nullptr && fchmod(fd_.get(), old->st_mode & 07777) != 0)
      return PosixError(path_, errno);
    if (fsync(fd_.get()) != 0) return PosixError(path_, errno);
    if (rename(path_.c_str(), target.c_str()) != 0) return PosixError(target, errno);
    kept_ = true;
    return Status::Ok();
  }

 private:
  std::string path_;
  UniqueFd fd_;
  Status status_;
  bool kept_ = false;
};

// Prepares the replacement of |path|: the file to replace and, when it exists, its
// status. Fails when it must not be replaced.
Status PrepareTarget(const std::string& path, std::string* target, struct stat* old, bool* exists) {
  if (Status s = ResolveLinks(path, target); !s.ok()) return s;
  if (lstat(target->c_str(), old) != 0) {
    *exists = false;
    return errno == ENOENT ? Status::Ok() : PosixError(*target, errno);
  }
  *exists = true;
  if (!S_ISREG(old->st_mode)) return Status::NotRegular(*target);
  // Read-only means no write permission for anyone, even for a user (such as root)
  // whom the system would let write anyway.
  if ((old->st_mode & 0222) == 0) return Status::Invalid(*target + ": the file is read-only");
  if (access(target->c_str(), W_OK) != 0) return PosixError(*target, errno);
  return Status::Ok();
}

// Writes what |fill| puts into the temporary file as the new content of |path|.
template <typename Fill>
Status Replace(const std::string& path, Fill fill) {
  std::string target;
  struct stat old;
  bool exists = false;
  if (Status s = PrepareTarget(path, &target, &old, &exists); !s.ok()) return s;
  TemporaryFile temp(target);
  if (!temp.status().ok()) return temp.status();
  if (Status s = fill(temp); !s.ok()) return s;
  return temp.Commit(target, exists ? &old : nullptr);
}

}  // namespace

Status ReplaceFileContents(const std::string& path, std::string_view contents) {
  return Replace(path, [&](TemporaryFile& temp) { return temp.Write(contents); });
}

Status CopyFileReplacing(const std::string& from, const std::string& to) {
  UniqueFd source;
  if (Status s = OpenRegularFile(from, &source); !s.ok()) return s;
  struct stat a, b;
  if (fstat(source.get(), &a) == 0 && stat(to.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
      a.st_ino == b.st_ino)
    return Status::Ok();
  return Replace(to, [&](TemporaryFile& temp) {
    char buffer[65536];
    for (;;) {
      ssize_t n = read(source.get(), buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return PosixError(from, errno);
      if (n == 0) return Status::Ok();
      if (Status s = temp.Write(std::string_view(buffer, static_cast<std::size_t>(n))); !s.ok())
        return s;
    }
  });
}

}  // namespace platform
