// The memory files as the rest of the process sees them, through a separate shared
// library that uses the ordinary file functions.
#include "storage/mem_file_mgr.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "../support/temp_dir.h"
#include "base/unique_file.h"
#include "memory_reader.h"
#include "storage/pack_file_mgr.h"

namespace {

using base::UniqueFile;
using storage::CMemFileMgr;
using storage::CPackFileMgr;

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

TEST_F(MemFileMgrTest, ABufferHandedOverIsReleasedOnceAndOnlyOnSuccess) {
  // The image is a copy: the handed-over buffer is released at once (the sanitizer
  // run sees a leak or a second release); the file reads the same all the while.
  const std::string path = "/nonexistent-lumora/owned.bin";
  auto owned = std::make_unique<char[]>(kImage.size());
  std::memcpy(owned.get(), kImage.data(), kImage.size());
  ASSERT_TRUE(CMemFileMgr::AddMemoryFile(path, owned.release(),
                                         static_cast<std::uint32_t>(kImage.size()), true));
  EXPECT_EQ(reader::WithFopen(path), kImage);
  // A refused registration leaves the buffer with its caller.
  auto refused = std::make_unique<char[]>(4);
  int error = 0;
  EXPECT_FALSE(CMemFileMgr::AddMemoryFile(path, refused.get(), 4, true, &error));
  EXPECT_EQ(error, -2);
  refused[0] = 'x';  // still the caller's to use and release
  CMemFileMgr::RemoveAll();
  EXPECT_EQ(reader::WithFopen(path), "<absent>");
}

// A path the C library must see as it is: hidden from the compiler's null checks.
const char* volatile null_path = nullptr;

TEST_F(MemFileMgrTest, NullPathsGoOnToTheCLibrary) {
  // statx allows a null path with AT_EMPTY_PATH: the answer is the kernel's own.
  struct statx expected_stx, stx;
  errno = 0;
  const long expected =
      syscall(SYS_statx, AT_FDCWD, null_path, AT_EMPTY_PATH, STATX_BASIC_STATS, &expected_stx);
  const int expected_errno = errno;
  errno = 0;
  EXPECT_EQ(statx(AT_FDCWD, null_path, AT_EMPTY_PATH, STATX_BASIC_STATS, &stx), expected);
  if (expected != 0) {
    EXPECT_EQ(errno, expected_errno);  // errno means nothing on success
  }
  // Every other function that reads a path reports the C library's error.
  struct stat st;
  errno = 0;
  EXPECT_EQ(stat(null_path, &st), -1);
  EXPECT_EQ(errno, EFAULT);
  errno = 0;
  EXPECT_EQ(lstat(null_path, &st), -1);
  EXPECT_EQ(errno, EFAULT);
  errno = 0;
  EXPECT_EQ(fstatat(AT_FDCWD, null_path, &st, 0), -1);
  EXPECT_EQ(errno, EFAULT);
  errno = 0;
  EXPECT_EQ(open(null_path, O_RDONLY), -1);
  EXPECT_EQ(errno, EFAULT);
  errno = 0;
  EXPECT_EQ(openat(AT_FDCWD, null_path, O_RDONLY), -1);
  EXPECT_EQ(errno, EFAULT);
  errno = 0;
  EXPECT_EQ(creat(null_path, 0644), -1);
  EXPECT_EQ(errno, EFAULT);
  errno = 0;
  EXPECT_EQ(access(null_path, F_OK), -1);
  EXPECT_EQ(errno, EFAULT);
  errno = 0;
  EXPECT_EQ(faccessat(AT_FDCWD, null_path, F_OK, 0), -1);
  EXPECT_EQ(errno, EFAULT);
  EXPECT_EQ(std::fopen(null_path, "rb"), nullptr);
  // The memory file is still served.
  EXPECT_EQ(reader::WithFopen(kPath), kImage);
}

TEST_F(MemFileMgrTest, ReportsAPlainReadWriteRegularFile) {
  auto expect_plain = [](const struct stat& st, const char* how) {
    EXPECT_TRUE(S_ISREG(st.st_mode)) << how;
    EXPECT_EQ(st.st_mode & 07777, 0644u) << how;
    EXPECT_EQ(st.st_nlink, 1u) << how;
    EXPECT_EQ(st.st_size, static_cast<off_t>(kImage.size())) << how;
  };
  struct stat st {};
  ASSERT_EQ(stat(kPath.c_str(), &st), 0);
  expect_plain(st, "stat");
  ASSERT_EQ(lstat(kPath.c_str(), &st), 0);
  expect_plain(st, "lstat");
  ASSERT_EQ(fstatat(AT_FDCWD, kPath.c_str(), &st, AT_SYMLINK_NOFOLLOW), 0);
  expect_plain(st, "fstatat");
  struct statx stx {};
  ASSERT_EQ(statx(AT_FDCWD, kPath.c_str(), 0, STATX_BASIC_STATS, &stx), 0);
  EXPECT_TRUE(S_ISREG(stx.stx_mode));
  EXPECT_EQ(stx.stx_mode & 07777, 0644u);
  EXPECT_EQ(stx.stx_nlink, 1u);
  EXPECT_EQ(stx.stx_size, kImage.size());
  // access agrees with those permission bits: readable and writable, not executable.
  EXPECT_EQ(access(kPath.c_str(), R_OK | W_OK), 0);
  EXPECT_EQ(faccessat(AT_FDCWD, kPath.c_str(), R_OK | W_OK, 0), 0);
  EXPECT_NE(access(kPath.c_str(), X_OK), 0);
  EXPECT_NE(faccessat(AT_FDCWD, kPath.c_str(), X_OK, 0), 0);
  // A descriptor opened on the path carries the same type and permission bits.
  int fd = open(kPath.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(fstat(fd, &st), 0);
  close(fd);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  EXPECT_EQ(st.st_size, static_cast<off_t>(kImage.size()));
}

TEST(MemFileMgrCreatTest, CreatOpensTheImageAndWritesNothingToDisk) {
  TempDir dir;
  const std::string path = dir / "made-by-creat.bin";
  ASSERT_TRUE(CMemFileMgr::InstallFileHooks());
  ASSERT_TRUE(CMemFileMgr::AddMemoryFile(path, kImage.data(),
                                         static_cast<std::uint32_t>(kImage.size()), false));
  int fd = creat(path.c_str(), 0644);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(write(fd, "XY", 2), 2);
  close(fd);
  fd = creat64(path.c_str(), 0600);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(write(fd, "Z", 1), 1);
  close(fd);
  // Written in place, without truncating the image.
  EXPECT_EQ(reader::WithFopen(path), "Z" + std::string("Y") + kImage.substr(2));
  EXPECT_EQ(reader::SizeWithStat(path), static_cast<long>(kImage.size()));
  CMemFileMgr::RemoveAll();
  EXPECT_TRUE(CMemFileMgr::RemoveFileHooks());
  // Nothing reached the folder.
  EXPECT_EQ(reader::SizeWithStat(path), -1);
}

// Waits for |pid| until |deadline|; false (after killing it) when it is still running.
bool WaitForChild(pid_t pid, std::chrono::steady_clock::time_point deadline, int* status) {
  while (std::chrono::steady_clock::now() < deadline) {
    pid_t done = waitpid(pid, status, WNOHANG);
    if (done == pid) return true;
    if (done < 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  kill(pid, SIGKILL);
  waitpid(pid, status, 0);
  return false;
}

TEST_F(MemFileMgrTest, ChildrenForkedWhileOtherThreadsOpenTheImageAllEnd) {
  std::atomic<bool> stop{false};
  std::atomic<long> opens{0};
  std::vector<std::thread> openers;
  for (int i = 0; i < 3; ++i)
    openers.emplace_back([&] {
      while (!stop.load(std::memory_order_relaxed)) {
        int fd = open(kPath.c_str(), O_RDONLY);
        if (fd >= 0) close(fd);
        opens.fetch_add(1, std::memory_order_relaxed);
      }
    });
  while (opens.load() < 100) std::this_thread::yield();
  int hung = 0, failed = 0;
  for (int i = 0; i < 400 && hung == 0; ++i) {
    pid_t pid = fork();
    if (pid == 0) {
      // What a spawned child does before it runs a program.
      int fd = open("/dev/null", O_RDONLY);
      _exit(fd >= 0 ? 0 : 1);
    }
    if (pid < 0) {
      ++failed;
      break;
    }
    int status = 0;
    if (!WaitForChild(pid, std::chrono::steady_clock::now() + std::chrono::seconds(5), &status))
      ++hung;
    else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
      ++failed;
  }
  stop = true;
  for (std::thread& t : openers) t.join();
  EXPECT_EQ(hung, 0);
  EXPECT_EQ(failed, 0);
}

std::string ReadAll(std::FILE* f) {
  std::string out;
  char buf[5];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
  return out;
}

std::string ReadDescriptor(int fd, std::size_t count) {
  std::string out(count, '\0');
  ssize_t n = read(fd, out.data(), count);
  out.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
  return out;
}

int OpenDescriptorCount() {
  int n = 0;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  while (readdir(dir) != nullptr) ++n;
  closedir(dir);
  return n;
}

using MemFileStreamTest = MemFileMgrTest;

TEST_F(MemFileStreamTest, StreamsReadTheImageEachFromItsOwnPosition) {
  UniqueFile a(reader::OpenStream(kPath, "rb"));
  UniqueFile b(reader::OpenStream(kPath, "r"));
  ASSERT_TRUE(a && b);
  char buf[8];
  ASSERT_EQ(std::fread(buf, 1, 3, a.get()), 3u);
  EXPECT_EQ(std::string(buf, 3), "012");
  EXPECT_EQ(ReadAll(b.get()), kImage);
  EXPECT_EQ(ReadAll(a.get()), kImage.substr(3));
  EXPECT_TRUE(std::feof(a.get()));
  // C++ streams read it too, also from a position.
  EXPECT_EQ(reader::WithIfstream(kPath), kImage);
  EXPECT_EQ(reader::WithIfstreamAt(kPath, 11, 3), "the");
}

TEST_F(MemFileStreamTest, FilenoGivesARealDescriptorAtTheStreamsPosition) {
  UniqueFile f(reader::OpenStream(kPath, "rb"));
  ASSERT_TRUE(f);
  char buf[8];
  ASSERT_EQ(std::fread(buf, 1, 5, f.get()), 5u);
  const int fd = reader::DescriptorOf(f.get());
  ASSERT_GE(fd, 0);
  EXPECT_EQ(reader::DescriptorOf(f.get()), fd);  // the same one each time
  struct stat st {};
  ASSERT_EQ(fstat(fd, &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_size, static_cast<off_t>(kImage.size()));
  EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 5);
  EXPECT_EQ(ReadDescriptor(fd, 4), "5678");
  // From then on the stream and its descriptor share one position.
  EXPECT_EQ(ReadAll(f.get()), kImage.substr(9));
  EXPECT_EQ(std::fseek(f.get(), 2, SEEK_SET), 0);
  EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 2);
  // Other streams are left to the C library.
  EXPECT_EQ(fileno(stdin), STDIN_FILENO);
  EXPECT_EQ(reader::DescriptorOf(stderr), STDERR_FILENO);
}

TEST_F(MemFileStreamTest, SeeksClampToTheImage) {
  UniqueFile f(reader::OpenStream(kPath, "rb"));
  ASSERT_TRUE(f);
  const long size = static_cast<long>(kImage.size());
  EXPECT_EQ(std::fseek(f.get(), size + 100, SEEK_SET), 0);
  EXPECT_EQ(std::ftell(f.get()), size);
  char c;
  EXPECT_EQ(std::fread(&c, 1, 1, f.get()), 0u);
  EXPECT_EQ(std::fseek(f.get(), 10, SEEK_END), 0);
  EXPECT_EQ(std::ftell(f.get()), size);
  EXPECT_EQ(std::fseek(f.get(), -4, SEEK_END), 0);
  EXPECT_EQ(ReadAll(f.get()), kImage.substr(kImage.size() - 4));
  EXPECT_EQ(std::fseek(f.get(), -1000, SEEK_END), 0);
  EXPECT_EQ(std::ftell(f.get()), 0);
  EXPECT_EQ(std::fseek(f.get(), 7, SEEK_SET), 0);
  EXPECT_EQ(std::fgetc(f.get()), '7');
}

// A descriptor of the image (open, or fileno of a stream) seeks as a stream does: never
// past the end nor before the start. Descriptors of other files are the system's.
TEST_F(MemFileStreamTest, DescriptorSeeksClampToTheImageToo) {
  const off_t size = static_cast<off_t>(kImage.size());
  const int fd = open(kPath.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(lseek(fd, size + 100, SEEK_SET), size);
  EXPECT_EQ(lseek(fd, 0, SEEK_CUR), size);
  EXPECT_EQ(ReadDescriptor(fd, 4), "");
  EXPECT_EQ(lseek(fd, 10, SEEK_END), size);
  EXPECT_EQ(lseek64(fd, -4, SEEK_END), size - 4);
  EXPECT_EQ(ReadDescriptor(fd, 8), kImage.substr(kImage.size() - 4));
  EXPECT_EQ(lseek(fd, -1000, SEEK_CUR), 0);
  EXPECT_EQ(lseek(fd, 7, SEEK_CUR), 7);
  EXPECT_EQ(ReadDescriptor(fd, 1), "7");
  EXPECT_EQ(lseek64(fd, INT64_MAX, SEEK_CUR), size);
  EXPECT_EQ(lseek(fd, -1, SEEK_SET), 0);
  close(fd);
  UniqueFile f(reader::OpenStream(kPath, "rb"));
  ASSERT_TRUE(f);
  const int stream_fd = reader::DescriptorOf(f.get());
  ASSERT_GE(stream_fd, 0);
  EXPECT_EQ(lseek(stream_fd, size * 2, SEEK_SET), size);
  EXPECT_EQ(std::ftell(f.get()), size);
  // A file on disk still seeks past its end and refuses a negative offset.
  TempDir dir;
  dir.Write("plain", "abc");
  const int plain = open((dir / "plain").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(plain, 0);
  EXPECT_EQ(lseek(plain, 100, SEEK_SET), 100);
  errno = 0;
  EXPECT_EQ(lseek(plain, -1, SEEK_SET), -1);
  EXPECT_EQ(errno, EINVAL);
  close(plain);
  EXPECT_EQ(lseek(-1, 0, SEEK_SET), -1);
  EXPECT_EQ(errno, EBADF);
}

TEST_F(MemFileStreamTest, TellRewindAndUngetc) {
  UniqueFile f(reader::OpenStream(kPath, "rb"));
  ASSERT_TRUE(f);
  char buf[4];
  ASSERT_EQ(std::fread(buf, 1, 3, f.get()), 3u);
  EXPECT_EQ(std::ftell(f.get()), 3);
  EXPECT_EQ(std::ungetc('X', f.get()), 'X');
  EXPECT_EQ(std::ftell(f.get()), 2);
  EXPECT_EQ(std::fgetc(f.get()), 'X');
  EXPECT_EQ(std::fgetc(f.get()), '3');
  EXPECT_EQ(std::fseek(f.get(), 0, SEEK_END), 0);
  EXPECT_EQ(std::fgetc(f.get()), EOF);
  EXPECT_TRUE(std::feof(f.get()));
  std::rewind(f.get());
  EXPECT_FALSE(std::feof(f.get()));
  EXPECT_EQ(std::ftell(f.get()), 0);
  EXPECT_EQ(std::fgetc(f.get()), '0');
  // The image itself was never changed.
  EXPECT_EQ(reader::WithFopen(kPath), kImage);
}

TEST_F(MemFileStreamTest, WritesStopAtTheEndAndReadOnlyStreamsDoNotWrite) {
  const std::size_t size = kImage.size();
  UniqueFile f(reader::OpenStream(kPath, "r+b"));
  ASSERT_TRUE(f);
  ASSERT_EQ(std::fseek(f.get(), static_cast<long>(size) - 2, SEEK_SET), 0);
  std::fwrite("WXYZ", 1, 4, f.get());
  std::fflush(f.get());
  EXPECT_EQ(std::ftell(f.get()), static_cast<long>(size));
  f.reset();
  EXPECT_EQ(reader::WithFopen(kPath), kImage.substr(0, size - 2) + "WX");
  EXPECT_EQ(reader::SizeWithStat(kPath), static_cast<long>(size));
  // A write made through the descriptor of a "w" stream lands in place as well.
  UniqueFile w(reader::OpenStream(kPath, "wb"));
  ASSERT_TRUE(w);
  ASSERT_EQ(std::fwrite("ab", 1, 2, w.get()), 2u);
  const int fd = reader::DescriptorOf(w.get());  // the pending bytes go in first
  ASSERT_GE(fd, 0);
  EXPECT_EQ(write(fd, "c", 1), 1);
  w.reset();
  EXPECT_EQ(reader::WithFopen(kPath), "abc" + kImage.substr(3, size - 5) + "WX");
  // "r" reads only.
  UniqueFile r(reader::OpenStream(kPath, "rb"));
  ASSERT_TRUE(r);
  EXPECT_EQ(std::fwrite("zz", 1, 2, r.get()), 0u);
  EXPECT_TRUE(std::ferror(r.get()));
  r.reset();
  EXPECT_EQ(reader::WithFopen(kPath).substr(0, 3), "abc");
}

TEST_F(MemFileStreamTest, ClosingReleasesEveryDescriptor) {
  // The first re-open keeps a descriptor of /proc/self/fd for the process's life.
  ASSERT_EQ(reader::WithOpenReadSeek(kPath), kImage);
  const int before = OpenDescriptorCount();
  ASSERT_GT(before, 0);
  for (int i = 0; i < 200; ++i) {
    UniqueFile f(reader::OpenStream(kPath, i % 2 ? "rb" : "r+b"));
    ASSERT_TRUE(f);
    if (i % 3 == 0) {
      ASSERT_GE(reader::DescriptorOf(f.get()), 0);
    }
    char c;
    ASSERT_EQ(std::fread(&c, 1, 1, f.get()), 1u);
  }
  for (int i = 0; i < 50; ++i) ASSERT_EQ(reader::WithIfstream(kPath), kImage);
  EXPECT_EQ(OpenDescriptorCount(), before);
}

TEST_F(MemFileStreamTest, AStreamOutlivesItsMemoryFile) {
  UniqueFile plain(reader::OpenStream(kPath, "rb"));
  UniqueFile with_fd(reader::OpenStream(kPath, "rb"));
  ASSERT_TRUE(plain && with_fd);
  char buf[4];
  ASSERT_EQ(std::fread(buf, 1, 4, plain.get()), 4u);
  const int fd = reader::DescriptorOf(with_fd.get());
  ASSERT_GE(fd, 0);
  std::ifstream in(kPath, std::ios::binary);
  ASSERT_TRUE(in);
  CMemFileMgr::RemoveAll();
  EXPECT_EQ(reader::WithFopen(kPath), "<absent>");
  EXPECT_EQ(ReadAll(plain.get()), kImage.substr(4));
  EXPECT_EQ(ReadDescriptor(fd, 3), "012");
  // A descriptor asked for after the removal still reaches the image.
  std::rewind(plain.get());
  const int late = reader::DescriptorOf(plain.get());
  ASSERT_GE(late, 0);
  EXPECT_EQ(ReadDescriptor(late, 5), "01234");
  std::string rest((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(rest, kImage);
}

TEST(MemFileLargeStreamTest, LargeImagesReadWholeThroughEveryReader) {
  std::string image(24u << 20, '\0');
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7 + i / 4096);
  const std::string path = "/nonexistent-lumora/large.bin";
  ASSERT_TRUE(CMemFileMgr::InstallFileHooks());
  ASSERT_TRUE(CMemFileMgr::AddMemoryFile(path, image.data(),
                                         static_cast<std::uint32_t>(image.size()), false));
  EXPECT_TRUE(reader::WithFopen(path) == image);
  EXPECT_TRUE(reader::WithIfstream(path) == image);
  UniqueFile f(reader::OpenStream(path, "rb"));
  ASSERT_TRUE(f);
  ASSERT_EQ(std::fseek(f.get(), 1000, SEEK_SET), 0);
  const int fd = reader::DescriptorOf(f.get());
  ASSERT_GE(fd, 0);
  struct stat st {};
  ASSERT_EQ(fstat(fd, &st), 0);
  EXPECT_EQ(st.st_size, static_cast<off_t>(image.size()));
  char c = 0;
  ASSERT_EQ(std::fread(&c, 1, 1, f.get()), 1u);
  EXPECT_EQ(c, image[1000]);
  f.reset();
  CMemFileMgr::RemoveAll();
  EXPECT_TRUE(CMemFileMgr::RemoveFileHooks());
}

TEST(MemFileLargeStreamTest, LargeReadsKeepTheStreamsPositionAndEnd) {
  std::string image(100000, '\0');
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 13 + i / 251);
  const std::string path = "/nonexistent-lumora/large-reads.bin";
  ASSERT_TRUE(CMemFileMgr::InstallFileHooks());
  ASSERT_TRUE(CMemFileMgr::AddMemoryFile(path, image.data(),
                                         static_cast<std::uint32_t>(image.size()), false));
  UniqueFile f(reader::OpenStream(path, "rb"));
  ASSERT_TRUE(f);
  std::string buf(40000, '\0');
  ASSERT_EQ(std::fread(buf.data(), 1, 20000, f.get()), 20000u);
  EXPECT_TRUE(buf.compare(0, 20000, image, 0, 20000) == 0);
  EXPECT_EQ(std::ftell(f.get()), 20000);
  // A small read fills the stream's buffer; the next large read starts after it.
  EXPECT_EQ(std::fgetc(f.get()), static_cast<unsigned char>(image[20000]));
  ASSERT_EQ(std::fread(buf.data(), 1, 20000, f.get()), 20000u);
  EXPECT_TRUE(buf.compare(0, 20000, image, 20001, 20000) == 0);
  // A pushed-back byte comes first.
  ASSERT_EQ(std::ungetc('!', f.get()), '!');
  ASSERT_EQ(std::fread(buf.data(), 1, 20000, f.get()), 20000u);
  EXPECT_EQ(buf[0], '!');
  EXPECT_TRUE(buf.compare(1, 19999, image, 40001, 19999) == 0);
  // Reading across the end: whole items only, and the end is recorded.
  ASSERT_EQ(std::fseek(f.get(), static_cast<long>(image.size()) - 10000, SEEK_SET), 0);
  EXPECT_EQ(std::fread(buf.data(), 3, 10000, f.get()), 3333u);
  EXPECT_TRUE(buf.compare(0, 9999, image, image.size() - 10000, 9999) == 0);
  EXPECT_TRUE(std::feof(f.get()));
  EXPECT_EQ(std::fread(buf.data(), 1, 20000, f.get()), 0u);
  // Through its descriptor once fileno made one.
  std::rewind(f.get());
  ASSERT_GE(reader::DescriptorOf(f.get()), 0);
  ASSERT_EQ(std::fread(buf.data(), 1, 40000, f.get()), 40000u);
  EXPECT_TRUE(buf.compare(0, 40000, image, 0, 40000) == 0);
  f.reset();
  CMemFileMgr::RemoveAll();
  EXPECT_TRUE(CMemFileMgr::RemoveFileHooks());
}

TEST(MemFileMgrPackedTest, ServesAStoreEntry) {
  CPackFileMgr::TEST_UseStoreFile(LUMORA_BINARY);
  ASSERT_TRUE(CMemFileMgr::Startup());
  const std::string path = "/nonexistent-lumora/main12.swf";
  ASSERT_TRUE(CMemFileMgr::AddPackedFile(path, "main12.swf"));
  EXPECT_EQ(reader::WithGio(path), reader::WithFopen(std::string(LUMORA_MOVIE_FILE)));
  CMemFileMgr::Shutdown();
  CPackFileMgr::TEST_UseStoreFile("");
  EXPECT_EQ(reader::WithFopen(path), "<absent>");
}

}  // namespace
