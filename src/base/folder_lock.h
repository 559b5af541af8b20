// The lock that every process of the user's takes before it changes files of a folder
// that several of them may share (the catalogues, the user shelf files, the settings
// file), so that reading a file, changing it and writing it back is one step that no
// other process interleaves with, and no change is lost.
//
// The lock is an advisory lock (flock) on the empty file kFolderLockName in the folder.
// That file is made when it is missing and never replaced or removed, since a lock on a
// replaced file would no longer be the one the other processes take. Only a regular
// file is taken: a link there is never followed, and a FIFO, folder or device is
// refused without blocking. The lock is held by the open file, so a process that ends
// however it ends releases it.
//
// A process that needs two folders takes them always in the same order (the data
// folder's before the program folder's), so that two processes never wait for each
// other. A thread that takes a lock it already holds (the same file, whatever its
// path) gets a guard that holds nothing and waits for nothing; a lock is released on
// the thread that took it.
#ifndef LUMORA_BASE_FOLDER_LOCK_H_
#define LUMORA_BASE_FOLDER_LOCK_H_

#include <sys/types.h>

#include <string>

#include "base/status.h"
#include "base/unique_file.h"

namespace base {

// The lock file's name; not a name that the program's own temporary files take.
inline constexpr const char* kFolderLockName = ".lumora.lock";

class FolderLock {
 public:
  enum class Mode {
    kMake,      // the lock file is made when it is missing
    kExisting,  // a missing lock file is NotFound: no process has changed the folder
                // under the lock yet (and none holds it), and nothing is made
  };

  // A guard that holds nothing.
  FolderLock() = default;
  ~FolderLock();
  FolderLock(FolderLock&& other) noexcept;
  FolderLock& operator=(FolderLock&& other) noexcept;
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  // Takes the lock of |folder| (a path of the system's), waiting for as long as another
  // process holds it. NotFound when the folder (or, with kExisting, the lock file) is
  // not there, NotRegular when the lock file is not a regular file, IoError when it
  // cannot be opened or locked. |lock| holds nothing unless the result is Ok.
  [[nodiscard]] static Status Acquire(const std::string& folder, Mode mode, FolderLock* lock);

  // Whether this guard holds a lock (false for the nested guard of a lock already held).
  bool held() const { return file_.valid(); }

 private:
  void Release();

  UniqueFd file_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

}  // namespace base

#endif  // LUMORA_BASE_FOLDER_LOCK_H_
