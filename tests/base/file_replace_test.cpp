// Replacing files: what the user set on the old file survives the replacement, and the
// temporary files of replacements that a process left behind are told apart and removed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "../support/temp_dir.h"
#include "base/files.h"

namespace {

namespace fs = std::filesystem;

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Sets the umask for the life of the object.
class Umask {
 public:
  explicit Umask(mode_t mask) : old_(umask(mask)) {}
  ~Umask() { umask(old_); }

 private:
  mode_t old_;
};

TEST(FileReplaceTest, PermissionBitsAreKeptAndNewFilesFollowTheUmask) {
  TempDir dir;
  dir.Write("kept.xml", "old");
  ASSERT_EQ(chmod((dir / "kept.xml").c_str(), 0640), 0);
  ASSERT_TRUE(base::ReplaceFileContents(dir / "kept.xml", "new"));
  EXPECT_EQ(dir.Read("kept.xml"), "new");
  EXPECT_EQ(ModeOf(dir / "kept.xml"), 0640u);

  Umask mask(002);
  ASSERT_TRUE(base::ReplaceFileContents(dir / "fresh.xml", "x"));
  EXPECT_EQ(ModeOf(dir / "fresh.xml"), 0664u);
  ASSERT_TRUE(base::CopyFileReplacing(dir / "kept.xml", dir / "copy.xml"));
  EXPECT_EQ(ModeOf(dir / "copy.xml"), 0664u);
}

TEST(FileReplaceTest, ALinkStaysALinkAndItsTargetIsReplaced) {
  TempDir dir;
  dir.Write("real/shelf.xml", "old");
  fs::create_symlink("real/shelf.xml", dir / "link.xml");
  fs::create_symlink("link.xml", dir / "link2.xml");
  ASSERT_TRUE(base::ReplaceFileContents(dir / "link2.xml", "new"));
  EXPECT_TRUE(fs::is_symlink(dir / "link.xml"));
  EXPECT_TRUE(fs::is_symlink(dir / "link2.xml"));
  EXPECT_EQ(dir.Read("real/shelf.xml"), "new");
  // A link whose target is not there yet makes the target.
  fs::create_symlink("real/later.xml", dir / "dangling.xml");
  ASSERT_TRUE(base::ReplaceFileContents(dir / "dangling.xml", "made"));
  EXPECT_TRUE(fs::is_symlink(dir / "dangling.xml"));
  EXPECT_EQ(dir.Read("real/later.xml"), "made");
  // A loop is refused.
  fs::create_symlink("loop.xml", dir / "loop.xml");
  EXPECT_FALSE(base::ReplaceFileContents(dir / "loop.xml", "x"));
}

TEST(FileReplaceTest, ReadOnlyFilesAndWhatIsNotAFileAreNotReplaced) {
  TempDir dir;
  dir.Write("ro.xml", "keep me");
  ASSERT_EQ(chmod((dir / "ro.xml").c_str(), 0444), 0);
  // Refused even for a user whom the system would let write (root).
  EXPECT_FALSE(base::ReplaceFileContents(dir / "ro.xml", "lost"));
  EXPECT_EQ(dir.Read("ro.xml"), "keep me");
  EXPECT_EQ(ModeOf(dir / "ro.xml"), 0444u);
  ASSERT_EQ(mkfifo((dir / "fifo.xml").c_str(), 0644), 0);
  EXPECT_FALSE(base::ReplaceFileContents(dir / "fifo.xml", "x"));
  EXPECT_TRUE(fs::is_fifo(dir / "fifo.xml"));
  dir.MakeDir("folder.xml");
  EXPECT_FALSE(base::ReplaceFileContents(dir / "folder.xml", "x"));
  // No temporary file is left behind by any refusal.
  for (const auto& entry : fs::directory_iterator(dir.path()))
    EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
}

TEST(FileReplaceTest, CopiesStreamOnlyRegularFiles) {
  TempDir dir;
  EXPECT_FALSE(base::CopyFileReplacing("/dev/zero", dir / "zero"));
  EXPECT_FALSE(fs::exists(dir / "zero"));
  dir.MakeDir("folder");
  EXPECT_FALSE(base::CopyFileReplacing(dir / "folder", dir / "f"));
  // Larger than the copy's buffer, and exact to the byte.
  std::string big(300000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
  dir.Write("big.jpg", big);
  ASSERT_TRUE(base::CopyFileReplacing(dir / "big.jpg", dir / "copy.jpg"));
  EXPECT_EQ(dir.Read("copy.jpg"), big);
  // Onto itself: nothing changes.
  ASSERT_TRUE(base::CopyFileReplacing(dir / "big.jpg", dir / "big.jpg"));
  EXPECT_EQ(dir.Read("big.jpg"), big);
}

// Sets the file times of |path| (not following a link) to an hour ago, long before the
// test began.
void MakeOld(const std::string& path) {
  struct timespec times[2];
  clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= 3600;
  times[1] = times[0];
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

TEST(FileReplaceTest, OnlyTemporaryFilesOfEndedReplacementsAreRemoved) {
  TempDir dir;
  // Left by a process that was killed before it renamed them.
  for (const char* name : {".shelf.xml.Ab3dE9", ".search.xml.zzzzzz", ".cover.jpg.000000"}) {
    dir.Write(name, "half");
    MakeOld(dir / name);
  }
  // Not of the temporary files' shape.
  for (const char* name :
       {".shelf.xml.Ab3dE", ".shelf.xml.Ab3dE9x", "shelf.xml.Ab3dE9", ".shelf.xml-Ab3dE9",
        ".shelf.xml.Ab-dE9", "..Ab3dE9", "...Ab3dE9", ".Ab3dE9", "shelf.xml"}) {
    dir.Write(name, "keep");
    MakeOld(dir / name);
  }
  // Of that shape, but written since this process started: a live process's.
  dir.Write(".book1.xml.Fresh1", "writing");
  // Old, but locked by a writer that is still at work.
  dir.Write(".book1.xml.Locked", "writing");
  MakeOld(dir / ".book1.xml.Locked");
  const int locked = open((dir / ".book1.xml.Locked").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(locked, 0);
  ASSERT_EQ(flock(locked, LOCK_EX), 0);
  // A link, a folder and a FIFO under such names; the link's target stays too.
  dir.Write("target.xml", "target");
  fs::create_symlink("target.xml", dir / ".link.xml.Linked");
  MakeOld(dir / ".link.xml.Linked");
  dir.MakeDir(".dir.xml.Folder");
  MakeOld(dir / ".dir.xml.Folder");
  ASSERT_EQ(mkfifo((dir / ".fifo.xml.FifoAb").c_str(), 0600), 0);
  MakeOld(dir / ".fifo.xml.FifoAb");

  EXPECT_EQ(base::RemoveStaleTemporaries(dir.path(), ".xml"), 2);
  EXPECT_FALSE(fs::exists(dir / ".shelf.xml.Ab3dE9"));
  EXPECT_FALSE(fs::exists(dir / ".search.xml.zzzzzz"));
  // A suffix keeps every other name, even of the temporary files' shape.
  EXPECT_TRUE(fs::exists(dir / ".cover.jpg.000000"));
  EXPECT_EQ(base::RemoveStaleTemporaries(dir.path(), ""), 1);
  EXPECT_FALSE(fs::exists(dir / ".cover.jpg.000000"));

  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(dir.path()))
    left.push_back(entry.path().filename());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{
                      "...Ab3dE9", "..Ab3dE9", ".Ab3dE9", ".book1.xml.Fresh1", ".book1.xml.Locked",
                      ".dir.xml.Folder", ".fifo.xml.FifoAb", ".link.xml.Linked",
                      ".shelf.xml-Ab3dE9", ".shelf.xml.Ab-dE9", ".shelf.xml.Ab3dE",
                      ".shelf.xml.Ab3dE9x", "shelf.xml", "shelf.xml.Ab3dE9", "target.xml"}));
  // Once the writer is gone, its file goes too.
  close(locked);
  EXPECT_EQ(base::RemoveStaleTemporaries(dir.path(), ".xml"), 1);
  EXPECT_FALSE(fs::exists(dir / ".book1.xml.Locked"));
  EXPECT_EQ(dir.Read("target.xml"), "target");

  // Another user's file stays (only root can make one here).
  if (geteuid() == 0) {
    dir.Write(".other.xml.Others", "theirs");
    ASSERT_EQ(chown((dir / ".other.xml.Others").c_str(), 65534, 65534), 0);
    MakeOld(dir / ".other.xml.Others");
    EXPECT_EQ(base::RemoveStaleTemporaries(dir.path(), ""), 0);
    EXPECT_TRUE(fs::exists(dir / ".other.xml.Others"));
  }
  // A folder that is not there, or is a file, holds nothing to remove.
  EXPECT_EQ(base::RemoveStaleTemporaries(dir / "missing", ""), 0);
  EXPECT_EQ(base::RemoveStaleTemporaries(dir / "target.xml", ""), 0);
}

}  // namespace
