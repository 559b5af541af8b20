#include "base/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

namespace base {
namespace {

struct HeldFile {
  dev_t device;
  ino_t inode;
  bool operator==(const HeldFile&) const = default;
};

// The lock files this thread holds. A second open file of a lock already held would
// wait for the first one for ever.
thread_local std::vector<HeldFile> held_by_thread;

}  // namespace

FolderLock::~FolderLock() { Release(); }

FolderLock::FolderLock(FolderLock&& other) noexcept
    : file_(std::move(other.file_)), device_(other.device_), inode_(other.inode_) {}

FolderLock& FolderLock::operator=(FolderLock&& other) noexcept {
  if (this != &other) {
    Release();
    file_ = std::move(other.file_);
    device_ = other.device_;
    inode_ = other.inode_;
  }
  return *this;
}

void FolderLock::Release() {
  if (!file_.valid()) return;
  auto entry = std::find(held_by_thread.begin(), held_by_thread.end(), HeldFile{device_, inode_});
  if (entry != held_by_thread.end()) held_by_thread.erase(entry);
  file_.Reset();  // closing the only open file of the lock releases it
}

Status FolderLock::Acquire(const std::string& folder, Mode mode, FolderLock* lock) {
  *lock = FolderLock();
  const std::string path =
      folder + (folder.empty() || folder.back() == '/' ? "" : "/") + kFolderLockName;
  // Read-only is enough for flock, and lets a user take the lock file that another
  // made. Never through a link; opening a FIFO never waits for a writer.
  int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  if (mode == Mode::kMake) flags |= O_CREAT;
  UniqueFd file(open(path.c_str(), flags, 0644));
  if (!file.valid()) {
    if (errno == ELOOP) return Status::NotRegular(path + ": a symbolic link");
    return PosixError(path, errno);
  }
  struct stat st;
  if (fstat(file.get(), &st) != 0) return PosixError(path, errno);
  if (!S_ISREG(st.st_mode)) return Status::NotRegular(path);
  const HeldFile wanted{st.st_dev, st.st_ino};
  if (std::find(held_by_thread.begin(), held_by_thread.end(), wanted) != held_by_thread.end())
    return Status::Ok();  // held already by this thread: this guard holds nothing
  int result;
  do {
    result = flock(file.get(), LOCK_EX);
  } while (result != 0 && errno == EINTR);
  if (result != 0) return PosixError(path, errno);
  held_by_thread.push_back(wanted);
  lock->file_ = std::move(file);
  lock->device_ = st.st_dev;
  lock->inode_ = st.st_ino;
  return Status::Ok();
}

}  // namespace base
