// The data folder's files over real HTTP: sizes and types, streaming of a large file,
// connection handling for HTTP/1.0 and 1.1, and paths that try to leave the folder or
// name something that is not a regular file.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "vendor_fixture.h"

namespace fs = std::filesystem;

namespace {

const std::string kCatalogue =
    "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n<root>\xCD\xBC\xCA\xE9</root>\r\n";

class FilesTest : public VendorTest {
 protected:
  void SetUp() override {
    root_.Write("Storage/XmlFile/book1.xml", kCatalogue);
    root_.Write("Storage/XmlFile/serverlist.txt", "http://127.0.0.1:8480/update/\r\n");
    root_.Write("update/a b.bin", std::string("\0\1\2\3", 4));
    root_.Write("accounts.txt", "bob\tsecret\tU100\n");
    scratch_.Write("secret.txt", "outside the folder");
  }
};

TEST_F(FilesTest, XmlFileServedWithLengthAndXmlTypeWithoutCharset) {
  Start();
  HttpReply reply = Get("/Storage/XmlFile/book1.xml");
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, kCatalogue);
  EXPECT_EQ(reply.Header("content-length"), std::to_string(kCatalogue.size()));
  EXPECT_EQ(reply.Header("content-type"), "application/xml");
  HttpReply list = Get("/Storage/XmlFile/serverlist.txt");
  EXPECT_EQ(list.body, "http://127.0.0.1:8480/update/\r\n");
  EXPECT_EQ(list.Header("content-type"), "text/plain");
  HttpReply binary = Get("/update/a%20b.bin");
  EXPECT_EQ(binary.body, std::string("\0\1\2\3", 4));
  EXPECT_EQ(binary.Header("content-type"), "application/octet-stream");
}

// The shelf's client announces gzip and deflate but decodes neither: every body goes as
// it is, files and service replies alike.
TEST_F(FilesTest, BodiesAreNeverCompressedWhateverTheClientAccepts) {
  Start();
  const std::string accept = "Accept-Encoding: gzip, deflate, br\r\nTE: gzip\r\n\r\n";
  HttpReply file = Exchange(port(), "GET /Storage/XmlFile/book1.xml HTTP/1.0\r\n" + accept);
  EXPECT_EQ(file.body, kCatalogue);
  EXPECT_FALSE(file.Has("content-encoding"));
  HttpReply login = Exchange(
      port(), "GET /login4shelf.aspx?username=bob&password=" + Md5("QornellGateway19981124secret") +
                  " HTTP/1.0\r\n" + accept);
  EXPECT_FALSE(login.Has("content-encoding"));
  EXPECT_NE(login.body.find("<Code>0</Code>"), std::string::npos) << login.body;
}

TEST_F(FilesTest, LargeFileArrivesWholeWithItsLength) {
  std::string big(12 * 1024 * 1024 + 7, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 131) >> 3);
  root_.Write("items/big.pdf", big);
  Start();
  HttpReply reply = Get("/items/big.pdf");
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.Header("content-length"), std::to_string(big.size()));
  EXPECT_EQ(reply.Header("content-type"), "application/pdf");
  EXPECT_TRUE(reply.body == big) << "body of " << reply.body.size() << " bytes differs";
}

TEST_F(FilesTest, OneRangeGetsPartialContentGuardedByTheValidators) {
  Start();
  const std::string size = std::to_string(kCatalogue.size());
  const auto ranged = [&](const std::string& range, const std::string& extra = "") {
    return Exchange(port(), "GET /Storage/XmlFile/book1.xml HTTP/1.0\r\nRange: " + range + "\r\n" +
                                extra + "\r\n");
  };
  HttpReply reply = ranged("bytes=2-6");
  EXPECT_EQ(reply.status, 206) << reply.head;
  EXPECT_EQ(reply.Header("content-range"), "bytes 2-6/" + size);
  EXPECT_EQ(reply.body, kCatalogue.substr(2, 5));
  // Open-ended, past the end (cut at the end) and a suffix.
  EXPECT_EQ(ranged("bytes=10-").body, kCatalogue.substr(10));
  HttpReply past = ranged("bytes=10-100000");
  EXPECT_EQ(past.Header("content-range"),
            "bytes 10-" + std::to_string(kCatalogue.size() - 1) + "/" + size);
  EXPECT_EQ(past.body, kCatalogue.substr(10));
  EXPECT_EQ(ranged("bytes=-4").body, kCatalogue.substr(kCatalogue.size() - 4));
  // A range that starts at or past the end cannot be satisfied.
  for (const std::string& range : {"bytes=" + size + "-", "bytes=" + size + "-999999"}) {
    HttpReply beyond = ranged(range);
    EXPECT_EQ(beyond.status, 416) << range;
    EXPECT_EQ(beyond.Header("content-range"), "bytes */" + size) << range;
  }
  // Several ranges, malformed ones and other units get the whole file.
  for (const char* range : {"bytes=0-1,4-5", "bytes=9-5", "bytes=x-", "items=0-3"}) {
    HttpReply whole = ranged(range);
    EXPECT_EQ(whole.status, 200) << range;
    EXPECT_EQ(whole.body, kCatalogue) << range;
  }
  // The validators: an If-Range that is either of them exactly keeps the range, any
  // other gets the whole file.
  HttpReply plain = Get("/Storage/XmlFile/book1.xml");
  const std::string etag = plain.Header("etag");
  const std::string date = plain.Header("last-modified");
  ASSERT_EQ(etag.front(), '"') << plain.head;
  ASSERT_NE(date, "") << plain.head;
  EXPECT_EQ(plain.Header("accept-ranges"), "bytes");
  EXPECT_EQ(ranged("bytes=10-", "If-Range: " + etag + "\r\n").status, 206);
  EXPECT_EQ(ranged("bytes=10-", "If-Range: " + date + "\r\n").status, 206);
  for (const std::string& other : {std::string("\"x\""), "W/" + etag, date + "x"}) {
    HttpReply whole = ranged("bytes=10-", "If-Range: " + other + "\r\n");
    EXPECT_EQ(whole.status, 200) << other;
    EXPECT_EQ(whole.body, kCatalogue) << other;
  }
  // A file written again has another tag.
  root_.Write("Storage/XmlFile/book1.xml", kCatalogue + " ");
  EXPECT_NE(Get("/Storage/XmlFile/book1.xml").Header("etag"), etag);
}

TEST_F(FilesTest, Http10AndConnectionCloseEndWithTheServerClosing) {
  Start();
  HttpReply old = Get("/Storage/XmlFile/book1.xml");
  EXPECT_TRUE(old.closed);
  EXPECT_EQ(old.Header("connection"), "close");
  EXPECT_EQ(old.body, kCatalogue);
  HttpReply closing = Exchange(port(),
                               "GET /Storage/XmlFile/book1.xml HTTP/1.1\r\nHost: x\r\n"
                               "Connection: close\r\n\r\n");
  EXPECT_TRUE(closing.closed);
  EXPECT_EQ(closing.body, kCatalogue);
}

TEST_F(FilesTest, Http11KeepsTheConnectionForTheNextRequest) {
  Start();
  Client client(port());
  ASSERT_TRUE(client.Send("GET /Storage/XmlFile/book1.xml HTTP/1.1\r\nHost: x\r\n\r\n"));
  HttpReply first = client.ReadOne();
  EXPECT_EQ(first.status, 200);
  EXPECT_EQ(first.body, kCatalogue);
  ASSERT_TRUE(
      client.Send("HEAD /Storage/XmlFile/serverlist.txt HTTP/1.1\r\nHost: x\r\n"
                  "Connection: close\r\n\r\n"));
  bool closed = false;
  HttpReply second = ParseReply(client.ReadToEnd(&closed), closed);
  EXPECT_TRUE(closed);
  EXPECT_EQ(second.status, 200);
  EXPECT_EQ(second.Header("content-length"), "31");
  EXPECT_EQ(second.body, "");
}

TEST_F(FilesTest, PathsLeavingTheFolderAreRefused) {
  fs::create_symlink(scratch_ / "secret.txt", root_ / "link-out.txt");
  fs::create_symlink(scratch_.path(), root_ / "dir-out");
  Start();
  const std::string escaped = "/" + fs::relative(scratch_ / "secret.txt", root_.path()).string();
  for (const std::string& target :
       {escaped,
        std::string("/Storage/../../") + fs::path(scratch_.path()).filename().string() +
            "/secret.txt",
        std::string("/%2e%2e/secret.txt"), std::string("/%2E%2E/%2e%2e/etc/passwd"),
        std::string("/Storage/%2e%2e%2f%2e%2e%2fetc/passwd"), std::string("/..%2fetc/passwd"),
        std::string("/link-out.txt"), std::string("/dir-out/secret.txt"),
        std::string("//etc/passwd"), std::string("http://x/../etc/passwd"),
        std::string(scratch_ / "secret.txt"), std::string("etc/passwd")}) {
    HttpReply reply = Get(target);
    EXPECT_TRUE(reply.status == 403 || reply.status == 404 || reply.status == 400) << target << "\n"
                                                                                   << reply.raw;
    EXPECT_EQ(reply.body.find("outside the folder"), std::string::npos) << target;
    EXPECT_EQ(reply.body.find("root:"), std::string::npos) << target;
  }
  // A link that stays inside the folder is followed.
  fs::create_symlink(root_ / "Storage/XmlFile/book1.xml", root_ / "inside.xml");
  EXPECT_EQ(Get("/inside.xml").body, kCatalogue);
}

TEST_F(FilesTest, NulBytesInTheRequestLineAreRefused) {
  Start();
  using namespace std::string_literals;
  HttpReply raw_nul =
      Exchange(port(), "GET /Storage/XmlFile/book1.xml\0/../../x HTTP/1.0\r\n\r\n"s);
  EXPECT_EQ(raw_nul.status, 400) << raw_nul.raw;
  HttpReply encoded_nul = Get("/Storage/XmlFile/book1.xml%00.txt");
  EXPECT_EQ(encoded_nul.status, 403) << encoded_nul.raw;
}

TEST_F(FilesTest, TheServicesOwnFilesAreNotServed) {
  root_.Write("faults.txt", "# none\n");
  root_.Write("purchases.txt", "U100\tI\t图书\t1\n");
  fs::create_symlink(root_ / "accounts.txt", root_ / "alias.txt");
  Start();
  for (const char* target :
       {"/accounts.txt", "/purchases.txt", "/faults.txt", "//accounts.txt", "/./accounts.txt",
        "/alias.txt", "/Storage/../accounts.txt", "/%61ccounts.txt"}) {
    HttpReply reply = Get(target);
    EXPECT_NE(reply.status, 200) << target;
    EXPECT_EQ(reply.body.find("secret"), std::string::npos) << target;
  }
}

TEST_F(FilesTest, FoldersFifosAndDevicesGive404WithoutBlocking) {
  root_.MakeDir("Storage/empty");
  ASSERT_EQ(mkfifo((root_ / "Storage/pipe.xml").c_str(), 0644), 0);
  fs::create_symlink("/dev/zero", root_ / "zero.bin");
  Start();
  for (const char* target : {"/", "/Storage", "/Storage/", "/Storage/empty", "/Storage/pipe.xml",
                             "/zero.bin", "/missing.xml"}) {
    HttpReply reply = Get(target);
    EXPECT_EQ(reply.status, 404) << target;
    EXPECT_TRUE(reply.closed) << target;
  }
}

TEST_F(FilesTest, OtherMethodsAreRefused) {
  Start();
  HttpReply reply = Exchange(port(),
                             "POST /Storage/XmlFile/book1.xml HTTP/1.0\r\n"
                             "Content-Length: 3\r\n\r\nabc");
  EXPECT_EQ(reply.status, 405);
  EXPECT_EQ(reply.Header("allow"), "GET, HEAD");
}

TEST_F(FilesTest, OversizedOrMalformedHeadsAreAnsweredAndClosed) {
  Start();
  HttpReply huge = Exchange(port(), "GET /" + std::string(70 * 1024, 'a') + " HTTP/1.0\r\n\r\n");
  EXPECT_EQ(huge.status, 431);
  EXPECT_TRUE(huge.closed);
  HttpReply garbage = Exchange(port(), "NONSENSE\r\n\r\n");
  EXPECT_EQ(garbage.status, 400);
  EXPECT_TRUE(garbage.closed);
}

}  // namespace
