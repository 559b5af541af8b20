// The folders the program starts from, and making folders.
#include "base/folders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "../support/temp_dir.h"

namespace {

// Sets (or, with nullopt, unsets) an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      setenv(name, value->c_str(), 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(FoldersTest, XdgFoldersTakeAbsoluteSettingsOnlyAndFallBackBelowHome) {
  ScopedEnv home("HOME", "/home/reader/");
  {
    ScopedEnv data("XDG_DATA_HOME", "/srv/data");
    ScopedEnv config("XDG_CONFIG_HOME", "/srv/config");
    EXPECT_EQ(base::DataHome(), "/srv/data");
    EXPECT_EQ(base::ConfigHome(), "/srv/config");
  }
  // A relative setting would name a folder that moves with the current directory.
  ScopedEnv data("XDG_DATA_HOME", "relative/data");
  ScopedEnv config("XDG_CONFIG_HOME", std::nullopt);
  EXPECT_EQ(base::DataHome(), "/home/reader/.local/share");
  EXPECT_EQ(base::ConfigHome(), "/home/reader/.config");
}

TEST(FoldersTest, HomeAtTheRootGivesNoDoubleSeparator) {
  ScopedEnv home("HOME", "/");
  ScopedEnv data("XDG_DATA_HOME", "");
  EXPECT_EQ(base::DataHome(), "/.local/share");
}

TEST(FoldersTest, ProgramFileAndCurrentDirectoryAreAbsolute) {
  const std::string program = base::ProgramFile();
  ASSERT_FALSE(program.empty());
  EXPECT_EQ(program[0], '/');
  EXPECT_EQ(access(program.c_str(), X_OK), 0) << program;

  TempDir dir;
  char old[4096];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  char resolved[4096];
  ASSERT_NE(realpath(dir.path().c_str(), resolved), nullptr);
  EXPECT_EQ(base::CurrentDirectory(), resolved);
  ASSERT_EQ(chdir(old), 0);
}

TEST(FoldersTest, MakeDirectoryMakesOneLevelAndSaysWhyItCannot) {
  TempDir dir;
  EXPECT_TRUE(base::MakeDirectory(dir / "made").ok());
  EXPECT_TRUE(base::IsDirectory(dir / "made"));
  // A folder that is there already is fine.
  EXPECT_TRUE(base::MakeDirectory(dir / "made").ok());

  // Its parent must exist.
  const base::Status no_parent = base::MakeDirectory(dir / "a/b");
  EXPECT_TRUE(no_parent.IsNotFound()) << no_parent.ToString();
  EXPECT_FALSE(base::IsDirectory(dir / "a"));

  // A file in the way is not a folder, and stays what it is.
  dir.Write("file", "kept");
  const base::Status file = base::MakeDirectory(dir / "file");
  EXPECT_FALSE(file.ok());
  EXPECT_NE(file.message().find(dir / "file"), std::string::npos) << file.ToString();
  EXPECT_EQ(dir.Read("file"), "kept");

  // Every missing level, and a file in the way of one of them stops it.
  EXPECT_TRUE(base::MakeDirectories(dir / "a/b/c").ok());
  EXPECT_TRUE(base::IsDirectory(dir / "a/b/c"));
  EXPECT_FALSE(base::MakeDirectories(dir / "file/d").ok());
}

TEST(FoldersTest, MissingFoldersAreMadeWithTheirModeListedAndTheEmptyOnesRemoved) {
  TempDir dir;
  ASSERT_TRUE(base::MakeDirectory(dir / "old").ok());
  std::vector<std::string> made;
  const mode_t mask = umask(022);
  EXPECT_TRUE(base::MakeMissingFolders(dir / "old/a/b", 0700, &made).ok());
  umask(mask);
  // Only the folders this call made, outermost first, each with the mode asked.
  EXPECT_EQ(made, (std::vector<std::string>{dir / "old/a", dir / "old/a/b"}));
  struct stat st;
  ASSERT_EQ(stat((dir / "old/a").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // A file in one of them keeps it, and what is above it; the empty one goes.
  dir.Write("old/a/kept", "x");
  base::RemoveEmptyFolders(made);
  EXPECT_FALSE(base::IsDirectory(dir / "old/a/b"));
  EXPECT_TRUE(base::IsDirectory(dir / "old/a"));
  // A file in the way stops the making; MakeFolder leaves whatever is there to its caller.
  EXPECT_FALSE(base::MakeMissingFolders(dir / "old/a/kept/c", 0700).ok());
  EXPECT_TRUE(base::MakeFolder(dir / "old/a/kept", 0700).ok());
  EXPECT_EQ(dir.Read("old/a/kept"), "x");
}

TEST(FoldersTest, OnlyFoldersOfTheSystemsPackagesAreTheSystems) {
  EXPECT_TRUE(base::IsSystemProgramFolder("/usr/lib/lumora"));
  EXPECT_TRUE(base::IsSystemProgramFolder("/usr/bin"));
  // The administrator's own programs and the user's are not.
  EXPECT_FALSE(base::IsSystemProgramFolder("/usr/local/lib/lumora"));
  EXPECT_FALSE(base::IsSystemProgramFolder("/usr/local"));
  EXPECT_FALSE(base::IsSystemProgramFolder("/home/reader/.local/lib/lumora"));
  EXPECT_FALSE(base::IsSystemProgramFolder("/usrlocal/lib"));
  EXPECT_FALSE(base::IsSystemProgramFolder("/opt/usr/lib"));
}

}  // namespace
