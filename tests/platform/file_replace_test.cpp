// Replacing files: what the user set on the old file survives the replacement.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "../support/temp_dir.h"
#include "platform/files.h"

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
  ASSERT_TRUE(platform::ReplaceFileContents(dir / "kept.xml", "new"));
  EXPECT_EQ(dir.Read("kept.xml"), "new");
  EXPECT_EQ(ModeOf(dir / "kept.xml"), 0640u);

  Umask mask(002);
  ASSERT_TRUE(platform::ReplaceFileContents(dir / "fresh.xml", "x"));
  EXPECT_EQ(ModeOf(dir / "fresh.xml"), 0664u);
  ASSERT_TRUE(platform::CopyFileReplacing(dir / "kept.xml", dir / "copy.xml"));
  EXPECT_EQ(ModeOf(dir / "copy.xml"), 0664u);
}

TEST(FileReplaceTest, ALinkStaysALinkAndItsTargetIsReplaced) {
  TempDir dir;
  dir.Write("real/shelf.xml", "old");
  fs::create_symlink("real/shelf.xml", dir / "link.xml");
  fs::create_symlink("link.xml", dir / "link2.xml");
  ASSERT_TRUE(platform::ReplaceFileContents(dir / "link2.xml", "new"));
  EXPECT_TRUE(fs::is_symlink(dir / "link.xml"));
  EXPECT_TRUE(fs::is_symlink(dir / "link2.xml"));
  EXPECT_EQ(dir.Read("real/shelf.xml"), "new");
  // A link whose target is not there yet makes the target.
  fs::create_symlink("real/later.xml", dir / "dangling.xml");
  ASSERT_TRUE(platform::ReplaceFileContents(dir / "dangling.xml", "made"));
  EXPECT_TRUE(fs::is_symlink(dir / "dangling.xml"));
  EXPECT_EQ(dir.Read("real/later.xml"), "made");
  // A loop is refused.
  fs::create_symlink("loop.xml", dir / "loop.xml");
  EXPECT_FALSE(platform::ReplaceFileContents(dir / "loop.xml", "x"));
}

TEST(FileReplaceTest, ReadOnlyFilesAndWhatIsNotAFileAreNotReplaced) {
  TempDir dir;
  dir.Write("ro.xml", "keep me");
  ASSERT_EQ(chmod((dir / "ro.xml").c_str(), 0444), 0);
  // Refused even for a user whom the system would let write (root).
  EXPECT_FALSE(platform::ReplaceFileContents(dir / "ro.xml", "lost"));
  EXPECT_EQ(dir.Read("ro.xml"), "keep me");
  EXPECT_EQ(ModeOf(dir / "ro.xml"), 0444u);
  ASSERT_EQ(mkfifo((dir / "fifo.xml").c_str(), 0644), 0);
  EXPECT_FALSE(platform::ReplaceFileContents(dir / "fifo.xml", "x"));
  EXPECT_TRUE(fs::is_fifo(dir / "fifo.xml"));
  dir.MakeDir("folder.xml");
  EXPECT_FALSE(platform::ReplaceFileContents(dir / "folder.xml", "x"));
  // No temporary file is left behind by any refusal.
  for (const auto& entry : fs::directory_iterator(dir.path()))
    EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
}

TEST(FileReplaceTest, CopiesStreamOnlyRegularFiles) {
  TempDir dir;
  EXPECT_FALSE(platform::CopyFileReplacing("/dev/zero", dir / "zero"));
  EXPECT_FALSE(fs::exists(dir / "zero"));
  dir.MakeDir("folder");
  EXPECT_FALSE(platform::CopyFileReplacing(dir / "folder", dir / "f"));
  // Larger than the copy's buffer, and exact to the byte.
  std::string big(300000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
  dir.Write("big.jpg", big);
  ASSERT_TRUE(platform::CopyFileReplacing(dir / "big.jpg", dir / "copy.jpg"));
  EXPECT_EQ(dir.Read("copy.jpg"), big);
  // Onto itself: nothing changes.
  ASSERT_TRUE(platform::CopyFileReplacing(dir / "big.jpg", dir / "big.jpg"));
  EXPECT_EQ(dir.Read("big.jpg"), big);
}

}  // namespace
