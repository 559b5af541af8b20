// The movie reads the files of its two folders, read-only, and nothing else.
#include "platform/gtk/movie_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../support/temp_dir.h"

namespace {

using platform::ServedFile;
using platform::ServeMovieFile;
using Code = base::Status::Code;

class MovieFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    top_.Write("data/public/maga/maga1.xml", "<?xml version=\"1.0\" encoding=\"gb2312\"?><a/>");
    top_.Write("data/public/local/LocalDefaultPic.jpg", "JPEG");
    top_.Write("data/public/中文 封面.png", "PNG");
    top_.Write("current/search.xml", "<s/>");
    top_.Write("current/reader/reader.xml", "<shelf/>");
    top_.Write("secret.txt", "secret");
    top_.Write("data/page.html", "<script>alert(1)</script>");
    data_ = top_ / "data/";
    current_ = top_ / "current/";
  }
  Code Serve(const std::string& path) {
    file_ = ServedFile{};
    return ServeMovieFile(path, data_, current_, &file_).code();
  }

  TempDir top_;
  std::string data_, current_;
  ServedFile file_;
};

TEST_F(MovieFilesTest, ServesXmlOfBothFoldersWithoutCharset) {
  ASSERT_EQ(Serve("/data/public/maga/maga1.xml"), Code::kOk);
  EXPECT_EQ(file_.content_type, "application/xml");
  EXPECT_EQ(file_.bytes, "<?xml version=\"1.0\" encoding=\"gb2312\"?><a/>");
  ASSERT_EQ(Serve("/current/search.xml"), Code::kOk);
  EXPECT_EQ(file_.bytes, "<s/>");
  ASSERT_EQ(Serve("/current/reader/reader.xml"), Code::kOk);
  EXPECT_EQ(file_.bytes, "<shelf/>");
}

TEST_F(MovieFilesTest, PicturesByTypeAndEncodedNames) {
  ASSERT_EQ(Serve("/data/public/local/LocalDefaultPic.jpg"), Code::kOk);
  EXPECT_EQ(file_.content_type, "image/jpeg");
  // "中文 封面.png", percent-encoded as a page would ask for it.
  ASSERT_EQ(Serve("/data/public/%E4%B8%AD%E6%96%87%20%E5%B0%81%E9%9D%A2.png"), Code::kOk);
  EXPECT_EQ(file_.content_type, "image/png");
  EXPECT_EQ(file_.bytes, "PNG");
  // Doubled separators and "." segments are the same file.
  EXPECT_EQ(Serve("/data//public/./local/LocalDefaultPic.jpg"), Code::kOk);
}

TEST_F(MovieFilesTest, OtherFilesAreNeverPagesOfTheMovie) {
  ASSERT_EQ(Serve("/data/page.html"), Code::kOk);
  EXPECT_EQ(file_.content_type, "application/octet-stream");
  EXPECT_EQ(platform::ContentTypeFor("/a/b.XML"), "application/xml");
  EXPECT_EQ(platform::ContentTypeFor("/a.b/c"), "application/octet-stream");
  EXPECT_EQ(platform::ContentTypeFor("/a/b.svg"), "application/octet-stream");
}

TEST_F(MovieFilesTest, RefusesEveryWayOut) {
  for (const char* path : {
           "/data/../secret.txt",
           "/data/public/../../secret.txt",
           "/data/%2e%2e/secret.txt",
           "/data/%2E%2E/secret.txt",
           "/data/public/%2e%2e%2f%2e%2e%2fsecret.txt",
           "/data/..%2fsecret.txt",
           "/current/..",
           "/current/../data/public/maga/maga1.xml",
           "/data/public/maga/maga1.xml%00.jpg",
           "/data/%zz",
           "/data/%4",
           "/data/",
           "/data",
           "/etc/passwd",
           "//etc/passwd",
           "/data//etc/passwd",  // the folder's own "etc", which is not there
           "/other/search.xml",
           "",
       }) {
    const Code result = Serve(path);
    EXPECT_NE(result, Code::kOk) << path;
    EXPECT_TRUE(file_.bytes.empty()) << path;
  }
  // An absolute path after the prefix stays inside the folder.
  EXPECT_EQ(Serve("/data//etc/passwd"), Code::kNotFound);
}

TEST_F(MovieFilesTest, RefusesLinksThatLeaveTheFolder) {
  ASSERT_EQ(symlink((top_ / "secret.txt").c_str(), (top_ / "data/out.xml").c_str()), 0);
  ASSERT_EQ(symlink(top_.path().c_str(), (top_ / "data/up").c_str()), 0);
  ASSERT_EQ(symlink("/etc/passwd", (top_ / "current/passwd.xml").c_str()), 0);
  EXPECT_EQ(Serve("/data/out.xml"), Code::kInvalid);
  EXPECT_EQ(Serve("/data/up/secret.txt"), Code::kInvalid);
  EXPECT_EQ(Serve("/current/passwd.xml"), Code::kInvalid);
  EXPECT_TRUE(file_.bytes.empty());
  // A link that stays inside is followed.
  ASSERT_EQ(
      symlink((top_ / "data/public/maga/maga1.xml").c_str(), (top_ / "data/inside.xml").c_str()),
      0);
  EXPECT_EQ(Serve("/data/inside.xml"), Code::kOk);
}

TEST_F(MovieFilesTest, OnlyRegularFilesAndNeverBlocks) {
  ASSERT_EQ(mkfifo((top_ / "data/fifo.xml").c_str(), 0600), 0);
  EXPECT_EQ(Serve("/data/fifo.xml"), Code::kNotFound);
  EXPECT_EQ(Serve("/data/public"), Code::kNotFound);
  EXPECT_EQ(Serve("/data/public/nothing.xml"), Code::kNotFound);
}

TEST_F(MovieFilesTest, UnnamedOrRelativeFoldersServeNothing) {
  EXPECT_EQ(ServeMovieFile("/data/public/maga/maga1.xml", "", current_, &file_).code(),
            Code::kInvalid);
  EXPECT_EQ(ServeMovieFile("/current/search.xml", data_, "relative/", &file_).code(),
            Code::kInvalid);
}

TEST_F(MovieFilesTest, HugeFilesAreRefused) {
  ASSERT_EQ(truncate((top_ / "data/public/maga/maga1.xml").c_str(),
                     static_cast<off_t>(platform::kMaxServedFile) + 1),
            0);
  EXPECT_EQ(Serve("/data/public/maga/maga1.xml"), Code::kTooLarge);
  EXPECT_TRUE(file_.bytes.empty());
}

TEST(PercentDecode, DecodesAndRefusesBadEscapes) {
  std::string out;
  EXPECT_TRUE(platform::PercentDecode("a%2Fb%20c", &out));
  EXPECT_EQ(out, "a/b c");
  EXPECT_FALSE(platform::PercentDecode("a%2", &out));
  EXPECT_FALSE(platform::PercentDecode("a%00b", &out));
  EXPECT_FALSE(platform::PercentDecode("%g0", &out));
}

}  // namespace
