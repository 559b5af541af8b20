// Reading files from outside, and what a failure says.
#include "platform/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "../support/temp_dir.h"

namespace {

using platform::Status;

TEST(FilesTest, ReadRegularFileTellsMissingFromUnusable) {
  TempDir dir;
  std::string text = "left over";
  Status missing = platform::ReadRegularFile(dir / "none.xml", 100, &text);
  EXPECT_TRUE(missing.IsNotFound()) << missing.ToString();
  EXPECT_TRUE(text.empty());

  // A folder, a FIFO and a device are never read, and a FIFO never blocks.
  dir.MakeDir("folder.xml");
  ASSERT_EQ(mkfifo((dir / "fifo.xml").c_str(), 0600), 0);
  for (const std::string& path : {dir / "folder.xml", dir / "fifo.xml", std::string("/dev/zero")}) {
    Status s = platform::ReadRegularFile(path, 100, &text);
    EXPECT_EQ(s.code(), Status::Code::kNotRegular) << path << ": " << s.ToString();
    EXPECT_FALSE(platform::IsReadableFile(path)) << path;
  }

  // A link that dangles is missing; a link to a file reads the file.
  ASSERT_EQ(symlink("nowhere", (dir / "dangling").c_str()), 0);
  EXPECT_TRUE(platform::ReadRegularFile(dir / "dangling", 100, &text).IsNotFound());
  EXPECT_TRUE(platform::PathExists(dir / "dangling"));
  dir.Write("real.xml", "<a/>");
  ASSERT_EQ(symlink("real.xml", (dir / "link.xml").c_str()), 0);
  ASSERT_TRUE(platform::ReadRegularFile(dir / "link.xml", 100, &text).ok());
  EXPECT_EQ(text, "<a/>");
}

TEST(FilesTest, TheLimitHoldsAtItsEdge) {
  TempDir dir;
  dir.Write("ten", std::string(10, 'x'));
  std::string text;
  EXPECT_TRUE(platform::ReadRegularFile(dir / "ten", 10, &text).ok());
  EXPECT_EQ(text.size(), 10u);
  Status over = platform::ReadRegularFile(dir / "ten", 9, &text);
  EXPECT_EQ(over.code(), Status::Code::kTooLarge) << over.ToString();
  EXPECT_TRUE(text.empty());
}

TEST(FilesTest, ReadWholeFileRefusesAFolderThatOpens) {
  TempDir dir;
  std::string text;
  EXPECT_FALSE(platform::ReadWholeFile(dir.path(), &text).ok());
  EXPECT_TRUE(platform::ReadWholeFile(dir / "none", &text).IsNotFound());
  dir.Write("a", std::string("\0b", 2));
  ASSERT_TRUE(platform::ReadWholeFile(dir / "a", &text).ok());
  EXPECT_EQ(text, std::string("\0b", 2));
}

TEST(StatusTest, SystemErrorsKeepTheirKindAndSayWhatFailed) {
  EXPECT_TRUE(platform::PosixError("/x", ENOENT).IsNotFound());
  EXPECT_TRUE(platform::PosixError("/x", ENOTDIR).IsNotFound());
  EXPECT_EQ(platform::PosixError("/x", EISDIR).code(), Status::Code::kNotRegular);
  EXPECT_EQ(platform::PosixError("/x", EACCES).code(), Status::Code::kIoError);
  EXPECT_EQ(platform::PosixError("/x", EAGAIN).code(), Status::Code::kUnavailable);
  const Status s = platform::PosixError("/data/a.xml", ENOSPC);
  EXPECT_EQ(s.ToString(), "I/O error: /data/a.xml: No space left on device");
  EXPECT_FALSE(s);
  EXPECT_TRUE(Status::Ok());
  EXPECT_EQ(Status::Ok().ToString(), "OK");
}

}  // namespace
