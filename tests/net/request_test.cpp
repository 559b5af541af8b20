// Raw HTTP requests against the local vendor service: the bytes sent, the texts handed
// back, and every way an exchange can fail.
#include "net/request.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "base/unique_file.h"
#include "net/tls.h"
#include "support/temp_dir.h"
#include "support/test_ca.h"
#include "support/vendor_process.h"

namespace {

const std::string kAccept =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/vnd.ms-excel, "
    "application/msword, application/vnd.ms-powerpoint, */*\r\n"
    "Accept-Language: en-us\r\nAccept-Encoding: gzip, deflate\r\nUser-Agent: Mozilla/4.0\r\n";

class RequestTest : public ::testing::Test {
 protected:
  // The service, over https with |tls| when given (its log starts empty).
  void Start(std::vector<std::string> faults = {}, const TestCa::Issued* tls = nullptr) {
    if (vendor_) {
      EXPECT_EQ(vendor_->Stop(), 0) << vendor_->Errors();
    }
    log_.Write("requests.log", "");
    std::vector<std::string> args = {"--root", root_.path(), "--log", log_ / "requests.log"};
    for (const std::string& f : faults) args.insert(args.end(), {"--fault", f});
    if (tls != nullptr) args.insert(args.end(), {"--tls-cert", tls->cert, "--tls-key", tls->key});
    vendor_ = std::make_unique<VendorProcess>(args);
  }
  void TearDown() override {
    if (vendor_) {
      EXPECT_EQ(vendor_->Stop(), 0) << vendor_->Errors();
    }
  }
  std::string Url(const std::string& host, const std::string& path) const {
    return "http://" + host + ":" + std::to_string(vendor_->port()) + path;
  }
  std::string Logged() const { return log_.Read("requests.log"); }

  TempDir root_, log_;
  std::unique_ptr<VendorProcess> vendor_;
  net::Request request_;
  // Retrieve's failures, each as it said why, in order.
  std::vector<std::string> failures_;
  void Retrieve(bool post, const std::string& url, std::string* text, std::string* head,
                std::string* body) {
    request_.Retrieve(post, url, text, head, body);
    if (!request_.last_failure().ok()) failures_.push_back(request_.failure_text());
  }
};

TEST_F(RequestTest, AGetSendsItsPiecesInOrderWithTheHostInCapitals) {
  root_.Write("Storage/XmlFile/Cat.xml", "<r/>");
  Start();
  std::string sent, head, body;
  ASSERT_EQ(request_.SendRequest(Url("localhost", "/Storage/XmlFile/Cat.xml?a=B"), nullptr, nullptr,
                                 0, &sent, &head, &body),
            0);
  const std::string expected =
      "GET /Storage/XmlFile/Cat.xml?a=B HTTP/1.0\r\n" + kAccept + "Host: LOCALHOST\r\n\r\n";
  EXPECT_EQ(sent, expected);
  EXPECT_EQ(Logged(), expected);
  EXPECT_EQ(head.substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_EQ(head.substr(head.size() - 4), "\r\n\r\n");
  EXPECT_NE(head.find("Content-Length: 4\r\n"), std::string::npos);
  EXPECT_EQ(body, "<r/>");
  // No path asks for "/".
  ASSERT_EQ(request_.SendRequest(Url("127.0.0.1", ""), nullptr, nullptr, 0, &sent, &head, &body),
            0);
  EXPECT_EQ(sent.substr(0, 16), "GET / HTTP/1.0\r\n");
}

TEST_F(RequestTest, PostsCarryTheirBodyAndLengthAndAnEmptyOneNeither) {
  Start();
  std::string form = "a=1&b=2", head, body;
  Retrieve(true, Url("127.0.0.1", "/form"), &form, &head, &body);
  EXPECT_EQ(form, "POST /form HTTP/1.0\r\n" + kAccept + "Content-Length: 7\r\nHost: 127.0.0.1\r\n" +
                      "Content-Type: application/x-www-form-urlencoded\r\n\r\na=1&b=2");
  std::string empty;
  Retrieve(true, Url("127.0.0.1", "/form"), &empty, &head, &body);
  EXPECT_EQ(empty, "POST /form HTTP/1.0\r\n" + kAccept + "Host: 127.0.0.1\r\n" +
                       "Content-Type: application/x-www-form-urlencoded\r\n\r\n");
  EXPECT_TRUE(failures_.empty());
}

TEST_F(RequestTest, AnyAnswerCountsAndTheBodyComesInTheCodePage) {
  root_.Write("zh.txt", "\xE4\xB8\xAD|plain");
  Start({"/gone=status:404", "/cut=drop:3", "/open=no-length"});
  std::string sent, head, body;
  ASSERT_EQ(
      request_.SendRequest(Url("127.0.0.1", "/gone"), nullptr, nullptr, 0, &sent, &head, &body), 0);
  EXPECT_NE(head.find(" 404 "), std::string::npos) << head;
  EXPECT_FALSE(body.empty());
  ASSERT_EQ(
      request_.SendRequest(Url("127.0.0.1", "/zh.txt"), nullptr, nullptr, 0, &sent, &head, &body),
      0);
  EXPECT_EQ(body, "\xD6\xD0|plain");
  // A connection dropped in the body, or a body without a length, ends where it ends.
  root_.Write("cut", "0123456789");
  root_.Write("open", "0123456789");
  ASSERT_EQ(
      request_.SendRequest(Url("127.0.0.1", "/cut"), nullptr, nullptr, 0, &sent, &head, &body), 0);
  EXPECT_EQ(body, "012");
  ASSERT_EQ(
      request_.SendRequest(Url("127.0.0.1", "/open"), nullptr, nullptr, 0, &sent, &head, &body), 0);
  EXPECT_EQ(body, "0123456789");
}

TEST_F(RequestTest, FailuresSayWhyAndLeaveTheStringsAlone) {
  Start({"/never=hang"});
  std::string text = "old text", head = "old head", body = "old body";
  // Nothing listens on port 1.
  Retrieve(false, "http://127.0.0.1:1/x", &text, &head, &body);
  // Not http, and no scheme but a port: the text before the colon is no scheme.
  Retrieve(false, Url("127.0.0.1", "/x").replace(0, 4, "ftp"), &text, &head, &body);
  Retrieve(false, "127.0.0.1:" + std::to_string(vendor_->port()) + "/x", &text, &head, &body);
  // A line end in the path would smuggle a header line.
  Retrieve(false, Url("127.0.0.1", "/x\r\nEvil: 1"), &text, &head, &body);
  // A server that never answers ends within the time-out.
  request_.set_timeout_ms(300);
  const auto start = std::chrono::steady_clock::now();
  Retrieve(false, Url("127.0.0.1", "/never"), &text, &head, &body);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  // Each failure names its reason; no dialog is shown here (the caller tells the user).
  const char* reasons[] = {"connect", "not an http or https URL", "not an http or https URL",
                           "a control character", "took too long"};
  ASSERT_EQ(failures_.size(), 5u);
  for (int i = 0; i < 5; ++i)
    EXPECT_NE(failures_[i].find(reasons[i]), std::string::npos) << failures_[i];
  EXPECT_EQ(text, "old text");
  EXPECT_EQ(head, "old head");
  EXPECT_EQ(body, "old body");
  EXPECT_EQ(Logged().find("Evil"), std::string::npos);
}

TEST_F(RequestTest, AReplyThatTricklesInEndsAtTheTimeOutAsAWhole) {
  // One byte every 100 ms: no single wait is long, the whole reply takes seconds.
  root_.Write("drip", std::string(60, 'd'));
  Start({"/drip=slow:1:100"});
  request_.set_timeout_ms(400);
  std::string sent, head, body;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(
      request_.SendRequest(Url("127.0.0.1", "/drip"), nullptr, nullptr, 0, &sent, &head, &body), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

TEST_F(RequestTest, AReplyOverTheCapFails) {
  const std::string big = root_ / "big.bin";
  root_.Write("big.bin", "");
  std::filesystem::resize_file(big, net::Request::kMaxReplyBytes + 1);
  Start();
  std::string sent, head, body;
  EXPECT_EQ(
      request_.SendRequest(Url("127.0.0.1", "/big.bin"), nullptr, nullptr, 0, &sent, &head, &body),
      1);
}

TEST_F(RequestTest, HttpsSendsTheSameBytesVerifiedAndRefusesEveryCertificateItCannotTrust) {
  TestCa ca, other_ca;
  const ScopedTrust trust(ca.ca_file());
  const TestCa::Issued good = ca.Issue("good", "IP:127.0.0.1,DNS:localhost");
  root_.Write("Storage/XmlFile/Cat.xml", "<r>\xE4\xB8\xAD</r>");
  Start({}, &good);
  const auto https = [this](const std::string& host, const std::string& path) {
    return "https://" + host + ":" + std::to_string(vendor_->port()) + path;
  };
  std::string sent, head, body;
  ASSERT_EQ(request_.SendRequest(https("localhost", "/Storage/XmlFile/Cat.xml?a=B"), nullptr,
                                 nullptr, 0, &sent, &head, &body),
            0)
      << request_.last_failure().message();
  const std::string expected =
      "GET /Storage/XmlFile/Cat.xml?a=B HTTP/1.0\r\n" + kAccept + "Host: LOCALHOST\r\n\r\n";
  EXPECT_EQ(sent, expected);
  EXPECT_EQ(Logged(), expected);
  EXPECT_EQ(head.substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_EQ(body, "<r>\xD6\xD0</r>");
  // A connection resumes the session of the one before to the same host name under the
  // same trust store, and no other: not the one of "localhost" for "127.0.0.1", not one
  // of another trust store (the same CA in another file).
  const auto resumes = [&](const std::string& host) {
    const std::uint64_t before = net::ResumedHandshakes();
    EXPECT_EQ(request_.SendRequest(https(host, "/Storage/XmlFile/Cat.xml"), nullptr, nullptr, 0,
                                   &sent, &head, &body),
              0)
        << request_.last_failure().message();
    EXPECT_EQ(body, "<r>\xD6\xD0</r>");
    return net::ResumedHandshakes() - before;
  };
  EXPECT_EQ(resumes("127.0.0.1"), 0u);
  EXPECT_EQ(resumes("127.0.0.1"), 1u);
  EXPECT_EQ(resumes("localhost"), 1u);
  std::filesystem::copy_file(ca.ca_file(), log_ / "same-ca.pem");
  {
    const ScopedTrust same_ca_elsewhere(log_ / "same-ca.pem");
    EXPECT_EQ(resumes("127.0.0.1"), 0u);
  }

  // Each refused certificate fails the exchange with its reason, and no byte of the
  // request reaches the server.
  struct Refused {
    TestCa::Issued issued;
    std::string host, reason;
  };
  const TestCa::Issued wrong_name = ca.Issue("wrong", "DNS:other.test");
  const Refused refused[] = {
      {ca.Issue("self", "IP:127.0.0.1", 2, true), "127.0.0.1", "self-signed certificate"},
      {wrong_name, "127.0.0.1", "IP address mismatch"},
      {wrong_name, "localhost", "hostname mismatch"},
      {ca.Issue("expired", "IP:127.0.0.1", -1), "127.0.0.1", "certificate has expired"},
      {other_ca.Issue("other", "IP:127.0.0.1"), "127.0.0.1", "unable to get local issuer"},
  };
  for (const Refused& r : refused) {
    Start({}, &r.issued);
    std::string text = "old", old_head = "old", old_body = "old";
    failures_.clear();
    Retrieve(false, https(r.host, "/Storage/XmlFile/Cat.xml"), &text, &old_head, &old_body);
    ASSERT_EQ(failures_.size(), 1u) << r.reason;
    EXPECT_NE(failures_[0].find("certificate verify failed: " + r.reason), std::string::npos)
        << failures_[0];
    EXPECT_EQ(text + old_head + old_body, "oldoldold");
    EXPECT_EQ(Logged(), "") << r.reason;
  }

  // A server that takes the connection but never answers the handshake: the connect
  // time-out holds.
  base::UniqueFd silent(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(::bind(silent.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(silent.get(), 4), 0);
  ASSERT_EQ(::getsockname(silent.get(), reinterpret_cast<sockaddr*>(&address), &size), 0);
  request_.set_timeout_ms(300);
  EXPECT_EQ(request_.SendRequest("https://127.0.0.1:" + std::to_string(ntohs(address.sin_port)),
                                 nullptr, nullptr, 0, &sent, &head, &body),
            1);
  EXPECT_EQ(request_.last_failure().code(), base::Status::Code::kUnavailable);
  EXPECT_NE(request_.last_failure().message().find("handshake"), std::string::npos)
      << request_.last_failure().message();
}

}  // namespace
