// Patches of update files, checked against the zstd tool itself: its patches are applied
// here, ours are applied by it, and a patch that is not the one for the installed file,
// or not a whole patch, is refused without leaving anything behind.
#include "update/file_patch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>
#include <string>

#include "../support/command.h"
#include "../support/temp_dir.h"
#include "update/file_digest.h"

namespace {

namespace fs = std::filesystem;
using base::Status;

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xff);
  return bytes;
}

std::string Digest(const std::string& path) {
  std::string digest;
  EXPECT_TRUE(update::Sha256OfFile(path, &digest).ok()) << path;
  return digest;
}

class FilePatchTest : public ::testing::Test {
 protected:
  FilePatchTest() {
    // A file of 1 MiB, and its next version: a part changed, a part inserted, a part
    // moved from the end to the front.
    const std::string old_bytes = RandomBytes(1 << 20, 1);
    std::string new_bytes = old_bytes.substr(900000) + old_bytes.substr(0, 900000);
    new_bytes.replace(300000, 5000, RandomBytes(5000, 2));
    new_bytes.insert(600000, RandomBytes(3000, 3));
    dir_.Write("old.bin", old_bytes);
    dir_.Write("new.bin", new_bytes);
  }

  Status Apply(const std::string& patch, const std::string& result) {
    return update::ApplyFilePatch(dir_ / "old.bin", Digest(dir_ / "old.bin"), patch, result,
                                  Digest(dir_ / "new.bin"));
  }

  TempDir dir_;
};

TEST_F(FilePatchTest, APatchOfTheZstdToolIsApplied) {
  const CommandRun made = RunCommand({"zstd", "-q", "--patch-from=" + dir_ / "old.bin",
                                      dir_ / "new.bin", "-o", dir_ / "tool.patch"});
  ASSERT_EQ(made.exit_code, 0) << made.err;
  EXPECT_LT(fs::file_size(dir_ / "tool.patch"), 20000u);
  const Status applied = Apply(dir_ / "tool.patch", dir_ / "result.bin");
  ASSERT_TRUE(applied.ok()) << applied.ToString();
  EXPECT_EQ(dir_.Read("result.bin"), dir_.Read("new.bin"));
  // The result goes to a new file only: one that is there is never written over.
  const Status again = Apply(dir_ / "tool.patch", dir_ / "result.bin");
  EXPECT_EQ(again.code(), Status::Code::kInvalid) << again.ToString();
  EXPECT_EQ(dir_.Read("result.bin"), dir_.Read("new.bin"));
}

TEST_F(FilePatchTest, OurPatchIsAppliedByTheZstdTool) {
  const Status made = update::MakeFilePatch(dir_ / "old.bin", dir_ / "new.bin", dir_ / "our.patch");
  ASSERT_TRUE(made.ok()) << made.ToString();
  EXPECT_LT(fs::file_size(dir_ / "our.patch"), 20000u);
  const CommandRun applied = RunCommand({"zstd", "-q", "-d", "--patch-from=" + dir_ / "old.bin",
                                         dir_ / "our.patch", "-o", dir_ / "tool-result.bin"});
  ASSERT_EQ(applied.exit_code, 0) << applied.err;
  EXPECT_EQ(dir_.Read("tool-result.bin"), dir_.Read("new.bin"));
  const Status ours = Apply(dir_ / "our.patch", dir_ / "result.bin");
  ASSERT_TRUE(ours.ok()) << ours.ToString();
  EXPECT_EQ(dir_.Read("result.bin"), dir_.Read("new.bin"));

  // From nothing and to nothing.
  dir_.Write("empty", "");
  for (const auto& [from, to] : {std::pair{"empty", "new.bin"}, std::pair{"old.bin", "empty"}}) {
    const std::string patch = dir_ / (std::string(from) + "-" + to + ".patch");
    const std::string result = dir_ / (std::string(from) + "-" + to + ".result");
    ASSERT_TRUE(update::MakeFilePatch(dir_ / from, dir_ / to, patch).ok());
    const Status s =
        update::ApplyFilePatch(dir_ / from, Digest(dir_ / from), patch, result, Digest(dir_ / to));
    ASSERT_TRUE(s.ok()) << from << " to " << to << ": " << s.ToString();
    EXPECT_EQ(dir_.Read(std::string(from) + "-" + to + ".result"), dir_.Read(to));
  }
}

TEST_F(FilePatchTest, APatchForAnotherFileIsNeverRead) {
  ASSERT_TRUE(update::MakeFilePatch(dir_ / "old.bin", dir_ / "new.bin", dir_ / "our.patch").ok());
  const std::string old_digest = Digest(dir_ / "old.bin");
  // The installed file is not the one named: the patch is not applied.
  dir_.Write("other.bin", RandomBytes(1 << 20, 9));
  Status s = update::ApplyFilePatch(dir_ / "other.bin", old_digest, dir_ / "our.patch",
                                    dir_ / "result.bin", Digest(dir_ / "new.bin"));
  EXPECT_EQ(s.code(), Status::Code::kInvalid) << s.ToString();
  EXPECT_FALSE(fs::exists(dir_ / "result.bin"));
  // Digests that are not digests, a folder or a FIFO as the patch, a missing base.
  s = update::ApplyFilePatch(dir_ / "old.bin", "nothex", dir_ / "our.patch", dir_ / "result.bin",
                             Digest(dir_ / "new.bin"));
  EXPECT_EQ(s.code(), Status::Code::kInvalid);
  ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  for (const std::string& patch : {dir_.path(), dir_ / "fifo"}) {
    s = Apply(patch, dir_ / "result.bin");
    EXPECT_EQ(s.code(), Status::Code::kNotRegular) << patch << ": " << s.ToString();
  }
  s = update::ApplyFilePatch(dir_ / "missing", old_digest, dir_ / "our.patch", dir_ / "result.bin",
                             Digest(dir_ / "new.bin"));
  EXPECT_TRUE(s.IsNotFound()) << s.ToString();
  EXPECT_FALSE(fs::exists(dir_ / "result.bin"));
}

TEST_F(FilePatchTest, ABrokenPatchIsRefusedAndLeavesNothing) {
  ASSERT_TRUE(update::MakeFilePatch(dir_ / "old.bin", dir_ / "new.bin", dir_ / "our.patch").ok());
  const std::string patch = dir_.Read("our.patch");
  std::vector<std::pair<std::string, std::string>> broken;
  for (std::size_t cut :
       {std::size_t{0}, std::size_t{3}, std::size_t{12}, patch.size() / 2, patch.size() - 1})
    broken.emplace_back("cut at " + std::to_string(cut), patch.substr(0, cut));
  for (std::size_t at : {std::size_t{4}, std::size_t{9}, patch.size() / 3, patch.size() - 2}) {
    std::string flipped = patch;
    flipped[at] = static_cast<char>(flipped[at] ^ 0x5a);
    broken.emplace_back("byte " + std::to_string(at) + " changed", flipped);
  }
  broken.emplace_back("a second frame after it", patch + patch);
  broken.emplace_back("bytes after it", patch + "x");
  // Frame headers made by hand: a window of 2^32 bytes, and no stated content size.
  const std::string magic = "\x28\xb5\x2f\xfd";
  broken.emplace_back("a window too large",
                      magic + std::string("\x40\xb0\x00\x00", 4) + std::string("\x01\x00\x00", 3));
  broken.emplace_back("no content size",
                      magic + std::string("\x00\x48", 2) + std::string("\x01\x00\x00", 3));
  for (const auto& [what, bytes] : broken) {
    dir_.Write("broken.patch", bytes);
    const Status s = Apply(dir_ / "broken.patch", dir_ / "result.bin");
    EXPECT_FALSE(s.ok()) << what;
    EXPECT_TRUE(s.code() == Status::Code::kCorrupt || s.code() == Status::Code::kTooLarge)
        << what << ": " << s.ToString();
    EXPECT_FALSE(fs::exists(dir_ / "result.bin")) << what;
  }
  // A whole patch whose result is not the file named.
  const Status s =
      update::ApplyFilePatch(dir_ / "old.bin", Digest(dir_ / "old.bin"), dir_ / "our.patch",
                             dir_ / "result.bin", Digest(dir_ / "old.bin"));
  EXPECT_EQ(s.code(), Status::Code::kCorrupt) << s.ToString();
  EXPECT_FALSE(fs::exists(dir_ / "result.bin"));
}

}  // namespace
