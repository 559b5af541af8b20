// Reading files from outside, and what a failure says.
#include "base/files.h"

#include <elf.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <fstream>
#include <iterator>
#include <string>

#include "../support/temp_dir.h"
#include "os/shell_action.h"

namespace {

using base::Status;

TEST(FilesTest, ReadRegularFileTellsMissingFromUnusable) {
  TempDir dir;
  std::string text = "left over";
  Status missing = base::ReadRegularFile(dir / "none.xml", 100, &text);
  EXPECT_TRUE(missing.IsNotFound()) << missing.ToString();
  EXPECT_TRUE(text.empty());

  // A folder, a FIFO and a device are never read, and a FIFO never blocks.
  dir.MakeDir("folder.xml");
  ASSERT_EQ(mkfifo((dir / "fifo.xml").c_str(), 0600), 0);
  for (const std::string& path : {dir / "folder.xml", dir / "fifo.xml", std::string("/dev/zero")}) {
    Status s = base::ReadRegularFile(path, 100, &text);
    EXPECT_EQ(s.code(), Status::Code::kNotRegular) << path << ": " << s.ToString();
    EXPECT_FALSE(base::IsReadableFile(path)) << path;
  }

  // A link that dangles is missing; a link to a file reads the file.
  ASSERT_EQ(symlink("nowhere", (dir / "dangling").c_str()), 0);
  EXPECT_TRUE(base::ReadRegularFile(dir / "dangling", 100, &text).IsNotFound());
  EXPECT_TRUE(base::PathExists(dir / "dangling"));
  dir.Write("real.xml", "<a/>");
  ASSERT_EQ(symlink("real.xml", (dir / "link.xml").c_str()), 0);
  ASSERT_TRUE(base::ReadRegularFile(dir / "link.xml", 100, &text).ok());
  EXPECT_EQ(text, "<a/>");
}

TEST(FilesTest, TheLimitHoldsAtItsEdge) {
  TempDir dir;
  dir.Write("ten", std::string(10, 'x'));
  std::string text;
  EXPECT_TRUE(base::ReadRegularFile(dir / "ten", 10, &text).ok());
  EXPECT_EQ(text.size(), 10u);
  Status over = base::ReadRegularFile(dir / "ten", 9, &text);
  EXPECT_EQ(over.code(), Status::Code::kTooLarge) << over.ToString();
  EXPECT_TRUE(text.empty());
}

TEST(FilesTest, ReadWholeFileRefusesAFolderThatOpens) {
  TempDir dir;
  std::string text;
  EXPECT_FALSE(base::ReadWholeFile(dir.path(), &text).ok());
  EXPECT_TRUE(base::ReadWholeFile(dir / "none", &text).IsNotFound());
  dir.Write("a", std::string("\0b", 2));
  ASSERT_TRUE(base::ReadWholeFile(dir / "a", &text).ok());
  EXPECT_EQ(text, std::string("\0b", 2));
}

// What the shell starts: a program of this machine with execute permission, nothing
// else; the content decides, never the name or the mode alone.
TEST(ShellActionTest, OnlyAnExecutableProgramOfThisMachineRuns) {
  TempDir dir;
  std::ifstream in("/bin/true", std::ios::binary);
  const std::string program{std::istreambuf_iterator<char>(in), {}};
  ASSERT_GT(program.size(), 64u);
  std::string foreign = program;  // the same program for another architecture
  const std::size_t machine = offsetof(Elf64_Ehdr, e_machine);
  foreign[machine] = static_cast<char>(foreign[machine] == EM_ARM ? EM_SPARC : EM_ARM);
  foreign[machine + 1] = 0;
  dir.Write("tool", program);
  dir.Write("short", program.substr(0, 20));
  dir.Write("foreign", foreign);
  dir.Write("tool.sh", "#!/bin/sh\n");
  dir.Write("readme.txt", "hello");
  dir.Write("unmarked", program);
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0700), 0);
  for (const char* name : {"tool", "short", "foreign", "tool.sh", "readme.txt"})
    ASSERT_EQ(chmod((dir / name).c_str(), 0700), 0);

  EXPECT_TRUE(os::IsProgramFile(dir / "tool"));
  EXPECT_TRUE(os::IsProgramFile(dir / "unmarked"));
  const os::ShellTarget run = os::ResolveShellTarget(dir / "tool");
  EXPECT_EQ(run.action, os::ShellAction::kRun);
  EXPECT_EQ(run.program, dir / "tool");
  EXPECT_STREQ(os::ShellActionName(run.action), "run");
  for (const char* name : {"short", "foreign", "tool.sh", "readme.txt", "unmarked", "fifo"}) {
    EXPECT_EQ(os::ResolveShellTarget(dir / name).action, os::ShellAction::kOpen) << name;
  }
  for (const char* name : {"short", "foreign", "tool.sh", "readme.txt", "fifo"})
    EXPECT_FALSE(os::IsProgramFile(dir / name)) << name;
  EXPECT_EQ(os::ResolveShellTarget("http://example.test/a").action, os::ShellAction::kOpen);
  EXPECT_STREQ(os::ShellActionName(os::ShellAction::kOpen), "open");
}

TEST(StatusTest, SystemErrorsKeepTheirKindAndSayWhatFailed) {
  EXPECT_TRUE(base::PosixError("/x", ENOENT).IsNotFound());
  EXPECT_TRUE(base::PosixError("/x", ENOTDIR).IsNotFound());
  EXPECT_EQ(base::PosixError("/x", EISDIR).code(), Status::Code::kNotRegular);
  EXPECT_EQ(base::PosixError("/x", EACCES).code(), Status::Code::kIoError);
  EXPECT_EQ(base::PosixError("/x", EAGAIN).code(), Status::Code::kUnavailable);
  const Status s = base::PosixError("/data/a.xml", ENOSPC);
  EXPECT_EQ(s.ToString(), "I/O error: /data/a.xml: No space left on device");
  EXPECT_FALSE(s);
  EXPECT_TRUE(Status::Ok());
  EXPECT_EQ(Status::Ok().ToString(), "OK");
}

}  // namespace
