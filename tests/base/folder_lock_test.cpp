// The lock of a shared folder: what stands where its file belongs is never followed or
// waited on, a thread that holds it takes it again without waiting for itself, and the
// start-up removal of temporary files never takes the lock file.
#include "base/folder_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "../support/temp_dir.h"
#include "base/files.h"

namespace {

namespace fs = std::filesystem;
using base::FolderLock;
using base::kFolderLockName;

// Whether another open file of |path| could take the lock now.
bool Free(const std::string& path) {
  base::UniqueFd file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  return file.valid() && flock(file.get(), LOCK_EX | LOCK_NB) == 0;
}

TEST(FolderLockTest, HeldUntilReleasedAndTakenAgainByItsThreadWithoutWaiting) {
  TempDir dir;
  const std::string lock_file = dir / kFolderLockName;
  {
    FolderLock lock;
    ASSERT_TRUE(FolderLock::Acquire(dir.path(), FolderLock::Mode::kMake, &lock).ok());
    EXPECT_TRUE(lock.held());
    EXPECT_FALSE(Free(lock_file));
    // The same file by another name: the thread does not wait for itself.
    FolderLock nested;
    ASSERT_TRUE(FolderLock::Acquire(dir / "./", FolderLock::Mode::kExisting, &nested).ok());
    EXPECT_FALSE(nested.held());
    nested = FolderLock();
    EXPECT_FALSE(Free(lock_file));
  }
  EXPECT_TRUE(Free(lock_file));
  EXPECT_EQ(fs::file_size(lock_file), 0u);
}

TEST(FolderLockTest, ALinkFifoOrFolderIsRefusedAndNothingIsMadeUnasked) {
  TempDir dir;
  FolderLock lock;
  // Nothing there: kExisting makes nothing, and a missing folder has nothing to lock.
  EXPECT_TRUE(FolderLock::Acquire(dir.path(), FolderLock::Mode::kExisting, &lock).IsNotFound());
  EXPECT_FALSE(fs::exists(dir / kFolderLockName));
  EXPECT_TRUE(FolderLock::Acquire(dir / "gone", FolderLock::Mode::kMake, &lock).IsNotFound());

  dir.Write("elsewhere", "kept");
  dir.MakeDir("link");
  fs::create_symlink(dir / "elsewhere", dir / (std::string("link/") + kFolderLockName));
  dir.MakeDir("fifo");
  ASSERT_EQ(mkfifo((dir / "fifo/" + kFolderLockName).c_str(), 0600), 0);
  dir.MakeDir(std::string("folder/") + kFolderLockName);
  for (const char* folder : {"link", "fifo", "folder"}) {
    for (FolderLock::Mode mode : {FolderLock::Mode::kMake, FolderLock::Mode::kExisting}) {
      const base::Status taken = FolderLock::Acquire(dir / folder, mode, &lock);
      EXPECT_FALSE(taken.ok()) << folder;
      EXPECT_FALSE(taken.IsNotFound()) << folder << ": " << taken.ToString();
      EXPECT_FALSE(lock.held());
    }
  }
  EXPECT_EQ(dir.Read("elsewhere"), "kept");
  EXPECT_TRUE(fs::is_symlink(dir / (std::string("link/") + kFolderLockName)));
}

TEST(FolderLockTest, TheRemovalOfStaleTemporariesLeavesTheLockFile) {
  TempDir dir;
  {
    FolderLock lock;
    ASSERT_TRUE(FolderLock::Acquire(dir.path(), FolderLock::Mode::kMake, &lock).ok());
  }
  // Written long before this process started, and held by no one.
  const struct timespec old_times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, (dir / kFolderLockName).c_str(), old_times, 0), 0);
  base::RemoveStaleTemporaries(dir.path(), "");
  EXPECT_TRUE(fs::is_regular_file(dir / kFolderLockName));
}

}  // namespace
