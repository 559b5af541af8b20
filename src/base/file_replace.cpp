#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <memory>
#include <random>
#include <vector>

#include "base/files.h"
#include "base/folders.h"

namespace base {
namespace {

constexpr std::size_t kRandomLetters = 6;
constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

// When this process began (well, when its file helpers were loaded, before main): a
// temporary file last written before then belongs to a process that has ended.
const struct timespec kProcessStart = [] {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  return now;
}();

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
  explicit TemporaryFile(const std::string& target) {
    status_ = CreateTemporaryFile(target, &fd_, &path_);
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

// True when |name| is one of TemporaryFile's names, "." + BASE + "." + six letters or
// digits, for a BASE that ends in |base_suffix|.
bool IsTemporaryName(std::string_view name, std::string_view base_suffix) {
  if (name.size() < 2 + kRandomLetters + 1 || name[0] != '.') return false;
  const std::size_t dot = name.size() - kRandomLetters - 1;
  if (name[dot] != '.') return false;
  for (char c : name.substr(dot + 1))
    if (std::string_view(kLetters).find(c) == std::string_view::npos) return false;
  const std::string_view base = name.substr(1, dot - 1);
  return base != "." && base != ".." && base.size() >= base_suffix.size() &&
         base.substr(base.size() - base_suffix.size()) == base_suffix;
}

bool Before(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

struct DirCloser {
  void operator()(DIR* dir) const noexcept { closedir(dir); }
};

}  // namespace

Status CreateTemporaryFile(const std::string& target, UniqueFd* file, std::string* path) {
  static thread_local std::mt19937 random{std::random_device{}()};
  std::size_t slash = target.rfind('/');
  std::string base = FolderOf(target) + "/." +
                     (slash == std::string::npos ? target : target.substr(slash + 1)) + ".";
  // Mode 0666, so that the umask gives it the usual mode of a new file.
  for (int attempt = 0; attempt < 100 && !file->valid(); ++attempt) {
    *path = base;
    for (std::size_t i = 0; i < kRandomLetters; ++i)
      *path += kLetters[random() % (sizeof kLetters - 1)];
    file->Reset(open(path->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
    if (!file->valid() && errno != EEXIST) break;
  }
  if (!file->valid()) return PosixError(*path, errno);
  // Held until the file is closed, by rename or by the process's end however it ends:
  // RemoveStaleTemporaries never takes a file that a live process writes. A file
  // system without locks only loses that protection.
  (void)flock(file->get(), LOCK_EX | LOCK_NB);
  return Status::Ok();
}

int RemoveStaleTemporaries(const std::string& folder, std::string_view base_suffix) {
  UniqueFd folder_fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder_fd.valid()) return 0;
  // The listing reads through a descriptor of its own; the removals go through this one.
  UniqueFd listing_fd(fcntl(folder_fd.get(), F_DUPFD_CLOEXEC, 0));
  if (!listing_fd.valid()) return 0;
  std::unique_ptr<DIR, DirCloser> listing(fdopendir(listing_fd.get()));
  if (!listing) return 0;
  (void)listing_fd.Release();  // the listing owns it now
  int removed = 0;
  while (const struct dirent* entry = readdir(listing.get())) {
    const std::string name = entry->d_name;
    if (!IsTemporaryName(name, base_suffix)) continue;
    // Never a link, a folder or a device; opening never blocks, even on a FIFO.
    UniqueFd file(openat(folder_fd.get(), name.c_str(),
                         O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st;
    if (!file.valid() || fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != geteuid() || !Before(st.st_mtim, kProcessStart))
      continue;
    // A live writer holds its lock; a process that ended holds none.
    if (flock(file.get(), LOCK_EX | LOCK_NB) != 0) continue;
    // Only the very file looked at: the name may have been taken meanwhile.
    struct stat now;
    if (fstatat(folder_fd.get(), name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
        now.st_dev != st.st_dev || now.st_ino != st.st_ino)
      continue;
    if (unlinkat(folder_fd.get(), name.c_str(), 0) == 0) ++removed;
  }
  return removed;
}

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

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

Status MakeParentFolders(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return Status::Ok();
  const std::string folder = path.substr(0, slash);
  // Each folder from the outermost missing one in; one made meanwhile counts as there.
  if (Status made = MakeMissingFolders(folder, 0755); !made.ok()) return made;
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0) return PosixError(folder, errno);
  if (!S_ISDIR(st.st_mode)) return Status::NotRegular(folder + " is not a folder");
  return Status::Ok();
}

}  // namespace base
