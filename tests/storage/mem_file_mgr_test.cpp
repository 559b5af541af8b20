// The memory files as the rest of the process sees them, through a separate shared
// library that uses the ordinary file functions.
#include "storage/mem_file_mgr.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "memory_reader.h"
#include "storage/memory_file.h"
#include "storage/pack_file_mgr.h"

namespace {

const std::string kPath = "/nonexistent-lumora/dir/movie.swf";
const std::string kImage = "0123456789 the image in memory";

class MemFileMgrTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CMemFileMgr::InstallFileHooks());
    ASSERT_TRUE(CMemFileMgr::AddMemoryFile(kPath, kImage.data(),
                                           static_cast<std::uint32_t>(kImage.size()), false));
  }
  void TearDown() override {
    CMemFileMgr::RemoveAll();
    EXPECT_TRUE(CMemFileMgr::RemoveFileHooks());
  }
};

TEST_F(MemFileMgrTest, EveryReaderGetsTheImage) {
  EXPECT_EQ(reader::WithFopen(kPath), kImage);
  EXPECT_EQ(reader::WithIfstream(kPath), kImage);
  EXPECT_EQ(reader::WithOpenReadSeek(kPath), kImage);
  EXPECT_EQ(reader::WithGio(kPath), kImage);
  EXPECT_EQ(reader::SizeWithStat(kPath), static_cast<long>(kImage.size()));
  EXPECT_TRUE(reader::ExistsWithAccess(kPath));
  // Other threads see it too.
  std::string from_thread;
  std::thread([&] { from_thread = reader::WithFopen(kPath); }).join();
  EXPECT_EQ(from_thread, kImage);
}

TEST_F(MemFileMgrTest, OnlyTheExactNameMatches) {
  for (const std::string other :
       {"/nonexistent-lumora/dir/MOVIE.swf", "/nonexistent-lumora//dir/movie.swf",
        "/nonexistent-lumora/dir/./movie.swf", "nonexistent-lumora/dir/movie.swf",
        "/nonexistent-lumora/dir/movie.swf/"}) {
    EXPECT_EQ(reader::WithFopen(other), "<absent>") << other;
    EXPECT_EQ(reader::SizeWithStat(other), -1) << other;
    EXPECT_FALSE(reader::ExistsWithAccess(other)) << other;
  }
  // Real files still read as before.
  EXPECT_NE(reader::WithFopen("/proc/self/stat"), "<absent>");
}

TEST_F(MemFileMgrTest, EachOpenHasItsOwnPositionAndStopsAtTheEnd) {
  std::FILE* a = std::fopen(kPath.c_str(), "rb");
  std::FILE* b = std::fopen(kPath.c_str(), "rb");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  char buf[8] = {};
  ASSERT_EQ(std::fread(buf, 1, 4, a), 4u);
  EXPECT_EQ(std::string(buf, 4), "0123");
  ASSERT_EQ(std::fread(buf, 1, 2, b), 2u);
  EXPECT_EQ(std::string(buf, 2), "01");
  // Past the end: zero bytes.
  ASSERT_EQ(std::fseek(a, 0, SEEK_END), 0);
  EXPECT_EQ(std::ftell(a), static_cast<long>(kImage.size()));
  EXPECT_EQ(std::fread(buf, 1, sizeof buf, a), 0u);
  // Closing one leaves the other usable.
  std::fclose(a);
  ASSERT_EQ(std::fread(buf, 1, 3, b), 3u);
  EXPECT_EQ(std::string(buf, 3), "234");
  std::fclose(b);
}

TEST_F(MemFileMgrTest, WritesGoIntoTheImageAndNeverGrowIt) {
  std::FILE* f = std::fopen(kPath.c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite("ABCD", 1, 4, f), 4u);
  std::fclose(f);
  EXPECT_EQ(reader::WithFopen(kPath), "ABCD" + kImage.substr(4));
  // "w" does not truncate, and nothing is written past the end.
  f = std::fopen(kPath.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fseek(f, 0, SEEK_END);
  std::fwrite("more", 1, 4, f);
  std::fclose(f);
  EXPECT_EQ(reader::SizeWithStat(kPath), static_cast<long>(kImage.size()));
}

TEST_F(MemFileMgrTest, TheImageIsNeverOnDisk) {
  int fd = open(kPath.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  char link[256] = {};
  ASSERT_GT(readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), link, sizeof link - 1), 0);
  close(fd);
  EXPECT_EQ(std::strncmp(link, "/memfd:", 7), 0) << link;
  EXPECT_NE(access("/nonexistent-lumora", F_OK), 0);
}

TEST_F(MemFileMgrTest, RegistrationRules) {
  int error = 0;
  EXPECT_FALSE(CMemFileMgr::AddMemoryFile(kPath, kImage.data(), 3, false, &error));
  EXPECT_EQ(error, -2);  // the name is taken
  EXPECT_FALSE(CMemFileMgr::AddMemoryFile("/x", nullptr, 3, false));
  EXPECT_FALSE(CMemFileMgr::AddMemoryFile("/x", kImage.data(), 0, false));
  EXPECT_FALSE(CMemFileMgr::AddMemoryFile("", kImage.data(), 3, false, &error));
  EXPECT_EQ(error, -1);
  // The interception stays while a memory file is registered.
  EXPECT_FALSE(CMemFileMgr::RemoveFileHooks());
  EXPECT_EQ(reader::WithFopen(kPath), kImage);
  // A store entry that is not there registers nothing.
  EXPECT_FALSE(CMemFileMgr::AddPackedFile("/nonexistent-lumora/other", "missing.swf"));
  EXPECT_EQ(reader::WithFopen("/nonexistent-lumora/other"), "<absent>");
}

TEST(MemFileMgrPackedTest, ServesAStoreEntry) {
  CPackFileMgr::UseStoreFile(LUMORA_BINARY);
  ASSERT_TRUE(CMemFileMgr::Startup());
  const std::string path = "/nonexistent-lumora/main12.swf";
  ASSERT_TRUE(CMemFileMgr::AddPackedFile(path, "main12.swf"));
  EXPECT_EQ(reader::WithGio(path),
            reader::WithFopen(std::string(LUMORA_SOURCE_DIR) + "/movie/main12.html"));
  CMemFileMgr::Shutdown();
  CPackFileMgr::UseStoreFile("");
  EXPECT_EQ(reader::WithFopen(path), "<absent>");
}

}  // namespace
