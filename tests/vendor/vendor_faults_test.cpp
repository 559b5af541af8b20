// The fault switches, from the command line and from the data folder's faults.txt, seen
// from a real client socket.
#include <poll.h>
#include <sys/socket.h>

#include "vendor_fixture.h"

namespace {

class FaultsTest : public VendorTest {
 protected:
  void SetUp() override {
    for (int i = 0; i < 200; ++i) body_ += static_cast<char>('a' + i % 26);
    root_.Write("Storage/XmlFile/list.xml", body_);
    root_.Write("Storage/ok.xml", "<ok/>");
  }
  std::string body_;
};

TEST_F(FaultsTest, StatusSwitchAnswersTheCodeForMatchingPrefixesOnly) {
  Start({"--fault", "/Storage/XmlFile/=status:503", "--fault=/login4shelf.aspx=status:500",
         "--fault", "/moved=redirect:http://elsewhere.test/x"});
  HttpReply moved = Get("/moved/a");
  EXPECT_EQ(moved.status, 302);
  EXPECT_EQ(moved.Header("location"), "http://elsewhere.test/x");
  HttpReply reply = Get("/Storage/XmlFile/list.xml");
  EXPECT_EQ(reply.status, 503);
  EXPECT_EQ(reply.Header("content-length"), std::to_string(reply.body.size()));
  EXPECT_NE(reply.body.find("503"), std::string::npos);
  EXPECT_TRUE(reply.closed);
  EXPECT_EQ(Get("/login4shelf.aspx?username=a&password=b").status, 500);
  HttpReply other = Get("/Storage/ok.xml");
  EXPECT_EQ(other.status, 200);
  EXPECT_EQ(other.body, "<ok/>");
}

TEST_F(FaultsTest, NoLengthSwitchSendsTheBodyEndedByClosing) {
  Start({"--fault", "/Storage/XmlFile/list=no-length"});
  HttpReply reply = Exchange(port(), "GET /Storage/XmlFile/list.xml HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(reply.status, 200);
  EXPECT_FALSE(reply.Has("content-length")) << reply.head;
  EXPECT_FALSE(reply.Has("transfer-encoding")) << reply.head;
  EXPECT_EQ(reply.Header("connection"), "close");
  EXPECT_EQ(reply.Header("content-type"), "application/xml");
  EXPECT_TRUE(reply.closed);
  EXPECT_EQ(reply.body, body_);
}

TEST_F(FaultsTest, DropSwitchClosesAfterTheGivenBodyBytes) {
  Start({"--fault", "/Storage/XmlFile/list.xml=drop:57"});
  HttpReply reply = Get("/Storage/XmlFile/list.xml");
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.Header("content-length"), "200");
  EXPECT_TRUE(reply.closed);
  EXPECT_EQ(reply.body, body_.substr(0, 57));
}

TEST_F(FaultsTest, SlowSwitchSendsTheBodyInSmallPieces) {
  // 20 bytes every 100 ms: the first body bytes the client sees are at most one piece.
  Start({"--fault", "/Storage/XmlFile/=slow:20:100"});
  Client client(port());
  ASSERT_TRUE(client.Send(Get10("/Storage/XmlFile/list.xml")));
  std::string bytes;
  std::size_t head_end = std::string::npos;
  while (head_end == std::string::npos || bytes.size() == head_end + 4) {
    ASSERT_TRUE(client.ReadAtLeast(&bytes, bytes.size() + 1)) << bytes;
    head_end = bytes.find("\r\n\r\n");
  }
  EXPECT_LE(bytes.size() - head_end - 4, 20u) << bytes;
  bool closed = false;
  bytes += client.ReadToEnd(&closed);
  HttpReply reply = ParseReply(bytes, closed);
  EXPECT_EQ(reply.Header("content-length"), "200");
  EXPECT_EQ(reply.body, body_);
}

TEST_F(FaultsTest, NoRangesSwitchAlwaysSendsTheWholeFile) {
  Start({"--fault", "/Storage/XmlFile/=no-ranges"});
  HttpReply reply = Exchange(port(),
                             "GET /Storage/XmlFile/list.xml HTTP/1.0\r\n"
                             "Range: bytes=10-\r\n\r\n");
  EXPECT_EQ(reply.status, 200);
  EXPECT_FALSE(reply.Has("content-range"));
  EXPECT_FALSE(reply.Has("accept-ranges"));
  EXPECT_EQ(reply.body, body_);
}

TEST_F(FaultsTest, ChangingSwitchServesANewVersionEveryTime) {
  Start({"--fault", "/Storage/XmlFile/=changing"});
  const auto version = [&](int n) {
    std::string bytes = body_;
    for (char& c : bytes) c = static_cast<char>(c ^ n);
    return bytes;
  };
  HttpReply first = Get("/Storage/XmlFile/list.xml");
  EXPECT_EQ(first.body, version(1));
  // Ranges still work, but the validators of one answer never match the next.
  HttpReply second = Exchange(port(),
                              "GET /Storage/XmlFile/list.xml HTTP/1.0\r\n"
                              "Range: bytes=100-\r\nIf-Range: " +
                                  first.Header("etag") + "\r\n\r\n");
  EXPECT_EQ(second.status, 200);
  EXPECT_EQ(second.body, version(2));
  EXPECT_NE(second.Header("etag"), first.Header("etag"));
  EXPECT_NE(second.Header("last-modified"), first.Header("last-modified"));
  HttpReply third = Exchange(port(),
                             "GET /Storage/XmlFile/list.xml HTTP/1.0\r\n"
                             "Range: bytes=100-\r\n\r\n");
  EXPECT_EQ(third.status, 206);
  EXPECT_EQ(third.body, version(3).substr(100));
  EXPECT_EQ(Get("/Storage/ok.xml").body, "<ok/>");
}

TEST_F(FaultsTest, HangSwitchNeverAnswersAndDoesNotHoldUpTheStop) {
  Start({"--fault", "/Storage/XmlFile/=hang"});
  Client held(port());
  ASSERT_TRUE(held.Send(Get10("/Storage/XmlFile/list.xml")));
  // Other requests are still served while one is held.
  EXPECT_EQ(Get("/Storage/ok.xml").body, "<ok/>");
  // The service ends on SIGTERM with the connection still held, and the held client has
  // received nothing but the close.
  EXPECT_EQ(vendor_->Stop(SIGTERM), 0);
  vendor_.reset();
  bool closed = false;
  EXPECT_EQ(held.ReadToEnd(&closed), "");
  EXPECT_TRUE(closed);
}

TEST_F(FaultsTest, HangEndsWhenTheClientGivesUp) {
  Start({"--fault", "/Storage/XmlFile/=hang"});
  for (int i = 0; i < 40; ++i) {
    // More held connections than the service has workers: each must be let go when its
    // client closes, or the last request below would never be served.
    Client held(port());
    ASSERT_TRUE(held.Send(Get10("/Storage/XmlFile/list.xml")));
    shutdown(held.fd(), SHUT_WR);
    bool closed = false;
    EXPECT_EQ(held.ReadToEnd(&closed), "");
  }
  EXPECT_EQ(Get("/Storage/ok.xml").body, "<ok/>");
}

TEST_F(FaultsTest, FaultsFileIsReadOnEveryRequest) {
  Start();
  EXPECT_EQ(Get("/Storage/ok.xml").status, 200);
  root_.Write("faults.txt",
              "# switches for the next requests\n"
              "/Storage/ok=status:404\n"
              "bad line\n"
              "/x=slow:0:10\n"
              "  /Storage/XmlFile/=drop:10  \n");
  EXPECT_EQ(Get("/Storage/ok.xml").status, 404);
  EXPECT_EQ(Get("/Storage/XmlFile/list.xml").body, body_.substr(0, 10));
  root_.Write("faults.txt", "");
  EXPECT_EQ(Get("/Storage/ok.xml").status, 200);
  std::string errors = vendor_->Errors();
  EXPECT_NE(errors.find("faults.txt:3:"), std::string::npos) << errors;
  EXPECT_NE(errors.find("faults.txt:4:"), std::string::npos) << errors;
}

TEST_F(FaultsTest, CommandLineSwitchesComeBeforeTheFile) {
  root_.Write("faults.txt", "/Storage/=status:502\n");
  Start({"--fault", "/Storage/ok=status:504"});
  EXPECT_EQ(Get("/Storage/ok.xml").status, 504);
  EXPECT_EQ(Get("/Storage/XmlFile/list.xml").status, 502);
}

}  // namespace
