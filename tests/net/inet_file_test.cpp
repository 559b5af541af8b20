// The download engine against the local vendor service and its fault switches (and, for
// redirects, a small server of the test's own on loopback): what is fetched, what is
// written where, the messages the owner gets, cancelling, stalls and the transfer list.
#include "net/inet_file.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/ansi.h"
#include "net/inet_files.h"
#include "net/partial_file.h"
#include "support/command.h"
#include "support/temp_dir.h"
#include "support/test_ca.h"
#include "support/vendor_process.h"

namespace {

using net::CInetFile;
using net::TransferMessage;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr auto kBound = std::chrono::seconds(10);  // a failure guard, never a measure

std::string Gb(const char* utf8) { return ansi::FromUtf8Lossy(utf8); }

// A body whose bytes differ from one chunk to the next, not a multiple of a chunk.
std::string Body(std::size_t size) {
  std::string body(size, '\0');
  for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<char>((i * 7919 + i / 251) & 0xFF);
  return body;
}

long long FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

// A test double of the owner window: it keeps every message a transfer posts, in
// order, under a lock (the transfer calls it on its worker thread), with the size the
// output file had when each message came.
class OwnerWindow {
 public:
  struct Message {
    TransferMessage message;
    int kind;
    std::uint32_t value;
    std::uint64_t id;
    long long file_size;
    Clock::time_point at;
  };

  // Messages about the file that |path| names (its size is taken at each message).
  net::TransferNotify Notify(std::function<std::string()> path) {
    return [this, path](TransferMessage message, int kind, std::uint32_t value, std::uint64_t id) {
      const Clock::time_point at = Clock::now();
      const long long size = FileSize(path());
      std::lock_guard<std::mutex> lock(mutex_);
      messages_.push_back({message, kind, value, id, size, at});
      changed_.notify_all();
    };
  }
  std::vector<Message> Messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }
  std::vector<Message> Ends() const {
    std::vector<Message> ends;
    for (const Message& m : Messages()) {
      if (m.message == TransferMessage::kEnd) ends.push_back(m);
    }
    return ends;
  }
  std::uint64_t ProgressSum() const {
    std::uint64_t sum = 0;
    for (const Message& m : Messages()) {
      if (m.message == TransferMessage::kProgress) sum += m.value;
    }
    return sum;
  }
  // Waits (within the bound) for the first progress message.
  bool WaitForProgress() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kBound, [this] { return !messages_.empty(); });
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Message> messages_;
};

class InetFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    body_ = Body(300'000 + 123);
    root_.Write("Storage/item.bin", body_);
  }
  void TearDown() override {
    if (vendor_) {
      EXPECT_EQ(vendor_->Stop(), 0) << vendor_->Errors();
    }
  }
  void Start(const std::vector<std::string>& faults = {}) {
    std::vector<std::string> args = {"--root", root_.path(), "--log", log_ / "requests.log"};
    for (const std::string& f : faults) args.insert(args.end(), {"--fault", f});
    vendor_ = std::make_unique<VendorProcess>(args);
    ASSERT_GT(vendor_->port(), 0);
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(vendor_->port()) + path;
  }
  std::string Target() const { return out_ / "item.bin"; }
  // The bodies of kind 2 beside Target(), "." + "item.bin.update." + six letters or
  // digits, in name order; and anything else named after it.
  std::vector<std::string> Bodies() const {
    std::vector<std::string> bodies;
    for (const auto& e : fs::directory_iterator(out_.path())) {
      const std::string name = e.path().filename();
      if (name.find("item.bin.update") != std::string::npos) bodies.push_back(e.path());
    }
    std::sort(bodies.begin(), bodies.end());
    return bodies;
  }
  // The file a transfer of |kind| writes: Target(), or the first body.
  std::string Output(int kind = CInetFile::kFile) const {
    if (kind != CInetFile::kFile) return Target();
    const std::vector<std::string> bodies = Bodies();
    return bodies.empty() ? std::string() : bodies.front();
  }
  // A transfer of |url| to Target() whose messages go to owner_.
  std::unique_ptr<CInetFile> Make(const std::string& url, int kind = CInetFile::kFile) {
    auto transfer = std::make_unique<CInetFile>();
    transfer->url = url;
    transfer->kind = kind;
    transfer->local_path = Target();
    transfer->notify = owner_.Notify([this, kind] { return Output(kind); });
    return transfer;
  }
  // Runs |transfer| to its end; the result of its end message (-1 when none came).
  int Run(CInetFile& transfer) {
    const std::size_t before = owner_.Ends().size();
    EXPECT_TRUE(transfer.StartTransfer());
    transfer.Wait();
    const auto ends = owner_.Ends();
    EXPECT_LE(ends.size(), before + 1);
    return ends.size() == before + 1 ? static_cast<int>(ends.back().value) : -1;
  }

  TempDir root_, out_, log_, scratch_;
  std::string body_;
  OwnerWindow owner_;
  std::unique_ptr<VendorProcess> vendor_;
};

TEST_F(InetFileTest, ErrorMessagesAreTheTableTextsInTheCodePage) {
  const char* texts[] = {"URL解析错误, 请选择其他服务器进行尝试",
                         "服务器拒绝连接, 请选择其他服务器进行尝试",
                         "重定向失败, 请选择其他服务器进行尝试",
                         "重定向URL解析错误, 请选择其他服务器进行尝试",
                         "不是HTTP连接, 请选择其他服务器进行尝试",
                         "取得服务器文件失败, 请选择其他服务器进行尝试",
                         "创建本地文件失败",
                         "主动取消连接",
                         "URL不正确"};
  for (int code = 1; code <= 9; ++code) {
    EXPECT_EQ(CInetFile::MessageOf(code), Gb(texts[code - 1])) << code;
  }
  const std::string fallback = Gb("连接服务器失败, 请选择其他服务器进行尝试");
  EXPECT_EQ(CInetFile::MessageOf(0), fallback);
  EXPECT_EQ(CInetFile::MessageOf(10), fallback);
  EXPECT_EQ(CInetFile::MessageOf(-1), fallback);
  EXPECT_EQ(CInetFile().GetErrorMessage(), fallback);
}

TEST_F(InetFileTest, OnlyHttpAndHttpsUrlsAreFetched) {
  Start();
  const std::string port = std::to_string(vendor_->port());
  for (const std::string& url :
       {"ftp://127.0.0.1:" + port + "/Storage/item.bin",
        "file://127.0.0.1:" + port + "/Storage/item.bin", std::string("not a url at all"),
        std::string("http://"), std::string("")}) {
    auto transfer = Make(url);
    EXPECT_EQ(Run(*transfer), CInetFile::kBadUrl) << url;
    EXPECT_EQ(transfer->GetErrorMessage(), CInetFile::MessageOf(1)) << url;
    EXPECT_FALSE(fs::exists(Output())) << url;
  }
  EXPECT_EQ(owner_.ProgressSum(), 0u);
  // Nothing reached the service: the scheme is refused before any connection.
  EXPECT_EQ(log_.Read("requests.log"), "");
}

TEST_F(InetFileTest, AnswerOtherThan200EndsWithSixItsMessageAndNoFile) {
  Start({"/Storage/broken=status:500"});
  root_.Write("Storage/broken.bin", body_);
  for (int kind : {CInetFile::kServerList, CInetFile::kFile}) {
    for (const std::string path : {"/Storage/missing.bin", "/Storage/broken.bin"}) {
      auto transfer = Make(Url(path), kind);
      EXPECT_EQ(Run(*transfer), CInetFile::kNotFound) << path;
      EXPECT_EQ(transfer->GetErrorMessage(), Gb("取得服务器文件失败, 请选择其他服务器进行尝试"));
      EXPECT_FALSE(fs::exists(Target())) << path;
      EXPECT_EQ(Bodies(), std::vector<std::string>{}) << path;
    }
  }
  EXPECT_EQ(owner_.ProgressSum(), 0u);
}

TEST_F(InetFileTest, KindTwoWritesTheBodyToAFileOfItsOwnBesideThePath) {
  Start();
  auto transfer = Make(Url("/Storage/item.bin"));
  ASSERT_EQ(Run(*transfer), CInetFile::kSuccess);
  const std::string body = transfer->body_path();
  EXPECT_EQ(Bodies(), std::vector<std::string>{body});
  EXPECT_TRUE(std::regex_match(fs::path(body).filename().string(),
                               std::regex(R"(^\.item\.bin\.update\.[A-Za-z0-9]{6}$)")))
      << body;
  EXPECT_EQ(out_.Read(fs::path(body).filename()), body_);
  EXPECT_FALSE(fs::exists(Target()));
  EXPECT_EQ(transfer->bytes_received(), body_.size());
  EXPECT_EQ(transfer->expected_length(), body_.size());
  EXPECT_EQ(transfer->attempts(), 1u);

  // Every message names the kind and the transfer; progress adds up to the body, each
  // after its bytes are in the file; the end message comes last.
  const auto messages = owner_.Messages();
  ASSERT_GE(messages.size(), 2u);
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i + 1 < messages.size(); ++i) {
    const auto& m = messages[i];
    ASSERT_EQ(m.message, TransferMessage::kProgress) << i;
    EXPECT_GE(m.value, 1u);
    sum += m.value;
    EXPECT_GE(m.file_size, static_cast<long long>(sum)) << i;
    EXPECT_EQ(m.kind, CInetFile::kFile);
    EXPECT_EQ(m.id, transfer->id());
  }
  EXPECT_EQ(sum, body_.size());
  EXPECT_EQ(messages.back().message, TransferMessage::kEnd);
  EXPECT_EQ(messages.back().kind, CInetFile::kFile);
  EXPECT_EQ(messages.back().id, transfer->id());

  // The body goes with its transfer, unless the owner took it.
  transfer.reset();
  EXPECT_EQ(Bodies(), std::vector<std::string>{});
  auto taken = Make(Url("/Storage/item.bin"));
  ASSERT_EQ(Run(*taken), CInetFile::kSuccess);
  const std::string kept = taken->body_path();
  taken->BodyTaken();
  EXPECT_EQ(taken->body_path(), "");
  taken.reset();
  EXPECT_EQ(Bodies(), std::vector<std::string>{kept});
}

TEST_F(InetFileTest, TwoTransfersOfOnePathNeverWriteTheSameFile) {
  // The first trickles while the second, of other bytes, runs to its end: each body
  // is whole, in a file of its own, and nothing of one is in the other.
  Start({"/Storage/item=slow:16384:20"});
  const std::string other = Body(200'000).substr(1);
  root_.Write("Storage/other.bin", other);
  auto slow = Make(Url("/Storage/item.bin"));
  ASSERT_TRUE(slow->StartTransfer());
  ASSERT_TRUE(owner_.WaitForProgress());
  auto fast = Make(Url("/Storage/other.bin"));
  ASSERT_EQ(Run(*fast), CInetFile::kSuccess);
  slow->Wait();
  ASSERT_EQ(owner_.Ends().size(), 2u);
  for (const auto& end : owner_.Ends()) EXPECT_EQ(end.value, 0u);
  const std::vector<std::string> bodies = Bodies();
  ASSERT_EQ(bodies.size(), 2u);
  std::vector<std::string> contents;
  for (const std::string& body : bodies) contents.push_back(out_.Read(fs::path(body).filename()));
  std::sort(contents.begin(), contents.end());
  std::vector<std::string> expected{body_, other};
  std::sort(expected.begin(), expected.end());
  EXPECT_TRUE(contents == expected);
  // The trickling one's progress came at most once per interval (bytes that came
  // sooner joined the next message), and what was left before its end. Half the
  // interval allows for the time between the engine's clock and the owner's.
  std::vector<Clock::time_point> progress;
  for (const auto& m : owner_.Messages())
    if (m.id == slow->id() && m.message == TransferMessage::kProgress) progress.push_back(m.at);
  ASSERT_GE(progress.size(), 2u);
  for (std::size_t i = 1; i + 1 < progress.size(); ++i)
    EXPECT_GE(progress[i] - progress[i - 1], CInetFile::kProgressInterval / 2) << i;
}

TEST_F(InetFileTest, KindsZeroAndOneWriteThePathItself) {
  Start();
  for (int kind : {CInetFile::kServerList, CInetFile::kManifest}) {
    auto transfer = Make(Url("/Storage/item.bin"), kind);
    ASSERT_EQ(Run(*transfer), CInetFile::kSuccess) << kind;
    EXPECT_EQ(out_.Read("item.bin"), body_) << kind;
    EXPECT_EQ(Bodies(), std::vector<std::string>{}) << kind;
    EXPECT_EQ(owner_.Ends().back().kind, kind);
    fs::remove(Target());
  }
}

TEST_F(InetFileTest, WithoutContentLengthTheExpectedLengthStaysZero) {
  Start({"/Storage/item=no-length"});
  auto transfer = Make(Url("/Storage/item.bin"));
  transfer->set_expected_length(77);  // left from an earlier run: replaced by 0
  ASSERT_EQ(Run(*transfer), CInetFile::kSuccess);
  EXPECT_EQ(transfer->expected_length(), 0u);
  EXPECT_EQ(transfer->bytes_received(), body_.size());
  EXPECT_EQ(out_.Read(fs::path(transfer->body_path()).filename()), body_);
}

TEST_F(InetFileTest, AnEmptyBodyStillMakesAnEmptyFile) {
  root_.Write("Storage/empty.bin", "");
  Start();
  auto transfer = Make(Url("/Storage/empty.bin"));
  ASSERT_EQ(Run(*transfer), CInetFile::kSuccess);
  EXPECT_EQ(FileSize(transfer->body_path()), 0);
  EXPECT_EQ(owner_.ProgressSum(), 0u);
}

TEST_F(InetFileTest, TheRequestCarriesTheTwoHeadersAndNothingElseOfOurOwn) {
  Start();
  auto transfer = Make(Url("/Storage/item.bin?a=1"));
  ASSERT_EQ(Run(*transfer), CInetFile::kSuccess);
  EXPECT_EQ(
      log_.Read("requests.log"),
      "GET /Storage/item.bin?a=1 HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(vendor_->port()) +
          "\r\nAccept: */*\r\nUser-Agent: AutoUpdate_Nuvex\r\n\r\n");
}

TEST_F(InetFileTest, CancelStopsAfterTheCurrentChunkWithoutAnEndMessage) {
  // 2048 bytes every 100 ms: the whole body would take 15 s.
  Start({"/Storage/item=slow:2048:100"});
  auto transfer = Make(Url("/Storage/item.bin"));
  ASSERT_TRUE(transfer->StartTransfer());
  ASSERT_TRUE(owner_.WaitForProgress());
  const auto cancelled_at = Clock::now();
  transfer->Cancel();
  transfer->Wait();
  EXPECT_LT(Clock::now() - cancelled_at, kBound);
  EXPECT_TRUE(owner_.Ends().empty());
  EXPECT_EQ(transfer->GetErrorMessage(), Gb("主动取消连接"));
  // What was counted was reported; what was written goes.
  EXPECT_GT(transfer->bytes_received(), 0u);
  EXPECT_LT(transfer->bytes_received(), body_.size());
  EXPECT_EQ(owner_.ProgressSum(), transfer->bytes_received());
  EXPECT_EQ(Bodies(), std::vector<std::string>{});
  EXPECT_EQ(transfer->body_path(), "");
}

TEST_F(InetFileTest, CancelWhileTheServerSendsNothingTakesEffectWithinABound) {
  Start({"/Storage/item=hang"});
  auto transfer = Make(Url("/Storage/item.bin"));
  ASSERT_TRUE(transfer->StartTransfer());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto cancelled_at = Clock::now();
  transfer->Cancel();
  transfer->Wait();
  EXPECT_LT(Clock::now() - cancelled_at, std::chrono::seconds(3));
  EXPECT_TRUE(owner_.Messages().empty());
  EXPECT_EQ(Bodies(), std::vector<std::string>{});
}

TEST_F(InetFileTest, AnAnswerPastItsLimitFailsWithSixAndLeavesNothing) {
  // A sparse file far larger than the limit plays an endless answer, with and without
  // its Content-Length.
  const std::uint64_t limit = 1u << 20;
  root_.Write("Storage/endless.bin", "");
  fs::resize_file(root_ / "Storage/endless.bin", 256u << 20);
  root_.Write("Storage/exact.bin", std::string(limit, 'e'));
  Start({"/Storage/nolength=no-length"});
  root_.Write("Storage/nolength.bin", "");
  fs::resize_file(root_ / "Storage/nolength.bin", 256u << 20);
  for (int kind : {CInetFile::kServerList, CInetFile::kManifest, CInetFile::kFile}) {
    for (const std::string path : {"/Storage/endless.bin", "/Storage/nolength.bin"}) {
      fs::remove(Target());
      auto transfer = Make(Url(path), kind);
      transfer->body_limit = limit;
      EXPECT_EQ(Run(*transfer), CInetFile::kNotFound) << kind << path;
      EXPECT_EQ(transfer->GetErrorMessage(), Gb("取得服务器文件失败, 请选择其他服务器进行尝试"));
      EXPECT_LE(transfer->bytes_received(), limit) << kind << path;
      // Nothing of it is kept for a reader to take.
      if (kind == CInetFile::kFile)
        EXPECT_EQ(Bodies(), std::vector<std::string>{}) << path;
      else
        EXPECT_LE(FileSize(Target()), 0) << kind << path;
    }
    // An answer of exactly the limit is taken whole.
    auto exact = Make(Url("/Storage/exact.bin"), kind);
    exact->body_limit = limit;
    ASSERT_EQ(Run(*exact), CInetFile::kSuccess) << kind;
    EXPECT_EQ(FileSize(kind == CInetFile::kFile ? exact->body_path() : Target()),
              static_cast<long long>(limit));
  }
}

TEST_F(InetFileTest, FoldersAreMadeForABodyAndGoWithABodyNotKept) {
  Start();
  const std::string deep = out_ / "a/b/c/item.bin";
  auto missing = Make(Url("/Storage/missing.bin"));
  missing->local_path = deep;
  missing->make_folders = true;
  EXPECT_EQ(Run(*missing), CInetFile::kNotFound);
  EXPECT_FALSE(fs::exists(out_ / "a"));  // no body, no folder
  out_.MakeDir("a");                     // a folder of someone else's stays
  auto found = Make(Url("/Storage/item.bin"));
  found->local_path = deep;
  found->make_folders = true;
  ASSERT_EQ(Run(*found), CInetFile::kSuccess);
  EXPECT_EQ(fs::path(found->body_path()).parent_path(), out_ / "a/b/c");
  found.reset();  // not taken: the body and the folders made for it go
  EXPECT_FALSE(fs::exists(out_ / "a/b"));
  EXPECT_TRUE(fs::is_directory(out_ / "a"));
  // Without make_folders a missing folder fails the transfer with seven.
  auto plain = Make(Url("/Storage/item.bin"));
  plain->local_path = deep;
  EXPECT_EQ(Run(*plain), CInetFile::kCannotCreate);
  EXPECT_FALSE(fs::exists(out_ / "a/b"));
}

TEST_F(InetFileTest, ATransferThatReceivesNothingForTheLimitFailsWithTwo) {
  Start({"/Storage/item=hang", "/Storage/slow=slow:10:20000"});
  root_.Write("Storage/slow.bin", body_);
  for (const std::string path : {"/Storage/item.bin", "/Storage/slow.bin"}) {
    auto transfer = Make(Url(path));
    transfer->stall_timeout_ms = 300;
    const auto started = Clock::now();
    EXPECT_EQ(Run(*transfer), CInetFile::kInternetError) << path;
    EXPECT_LT(Clock::now() - started, kBound) << path;
    // A failure of the HTTP layer leaves the message as it was.
    EXPECT_EQ(transfer->GetErrorMessage(), CInetFile::MessageOf(0)) << path;
    EXPECT_LE(transfer->bytes_received(), 10u) << path;
  }
}

TEST_F(InetFileTest, ABrokenOrRefusedConnectionFailsWithTwo) {
  Start({"/Storage/item=drop:5000"});
  auto dropped = Make(Url("/Storage/item.bin"));
  EXPECT_EQ(Run(*dropped), CInetFile::kInternetError);
  EXPECT_EQ(dropped->bytes_received(), 5000u);
  EXPECT_EQ(Bodies(), std::vector<std::string>{});  // a partial body goes

  // A port that nobody listens on.
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size), 0);
  ::close(fd);
  auto refused = Make("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/x");
  EXPECT_EQ(Run(*refused), CInetFile::kInternetError);
  EXPECT_EQ(refused->GetErrorMessage(), CInetFile::MessageOf(0));
}

TEST_F(InetFileTest, ASecondStartCountsAnAttemptAndRewritesTheFileFromTheStart) {
  Start();
  auto transfer = Make(Url("/Storage/item.bin"));
  ASSERT_EQ(Run(*transfer), CInetFile::kSuccess);
  const std::string shorter = Body(5000);
  root_.Write("Storage/item.bin", shorter);
  ASSERT_EQ(Run(*transfer), CInetFile::kSuccess);
  EXPECT_EQ(transfer->attempts(), 2u);
  // The first run's body went with the second start.
  EXPECT_EQ(Bodies(), std::vector<std::string>{transfer->body_path()});
  EXPECT_EQ(out_.Read(fs::path(transfer->body_path()).filename()), shorter);
  EXPECT_EQ(transfer->bytes_received(), shorter.size());
  EXPECT_EQ(transfer->expected_length(), shorter.size());
  EXPECT_EQ(owner_.ProgressSum(), body_.size() + shorter.size());
  EXPECT_EQ(owner_.Ends().size(), 2u);
}

TEST(InetFileSlotTest, SlotsCountTransfersMadeModuloEleven) {
  // Other transfers may have been made in this process: count from a first one.
  std::vector<std::unique_ptr<CInetFile>> made;
  for (int i = 0; i < 12; ++i) made.push_back(std::make_unique<CInetFile>());
  const int first = made[0]->slot();
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(made[i]->slot(), (first + i) % 11) << i;
    if (i > 0) {
      EXPECT_GT(made[i]->id(), made[i - 1]->id());
    }
  }
  // In a process whose first transfer is made[0], the eleventh and twelfth get 0 and 1.
  if (first == 1) {
    EXPECT_EQ(made[10]->slot(), 0);
    EXPECT_EQ(made[11]->slot(), 1);
  }
}

// A server of one purpose on 127.0.0.1: every request is answered with a 302 to
// |location|, and the connection closed.
class RedirectServer {
 public:
  explicit RedirectServer(std::string location) : location_(std::move(location)) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd_, 8) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      ADD_FAILURE() << "cannot listen on loopback";
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~RedirectServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    ::close(fd_);
  }
  RedirectServer(const RedirectServer&) = delete;
  RedirectServer& operator=(const RedirectServer&) = delete;

  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  void Serve() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) != 1) continue;
      const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      std::string head;
      char buffer[1024];
      while (head.find("\r\n\r\n") == std::string::npos) {
        pollfd c{client, POLLIN, 0};
        if (::poll(&c, 1, 5000) != 1) break;
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        head.append(buffer, static_cast<std::size_t>(n));
      }
      const std::string answer = "HTTP/1.1 302 Found\r\nLocation: " + location_ +
                                 "\r\nContent-Length: 5\r\nConnection: close\r\n\r\nmoved";
      (void)!::send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
      ::close(client);
    }
  }

  std::string location_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST_F(InetFileTest, HttpsIsVerifiedAgainstTheTrustStoreAndRedirectsNeverLeaveIt) {
  Start();  // plain http, the one the https service sends back to
  TestCa ca;
  const TestCa::Issued good = ca.Issue("good", "IP:127.0.0.1");
  const auto start_https = [&](const TestCa::Issued& issued) {
    return std::make_unique<VendorProcess>(std::vector<std::string>{
        "--root", root_.path(), "--tls-cert", issued.cert, "--tls-key", issued.key, "--fault",
        "/back=redirect:" + Url("/Storage/item.bin")});
  };
  auto service = start_https(good);
  const std::string https = "https://127.0.0.1:" + std::to_string(service->port());
  const auto fails_with = [&](const std::string& url, const std::string& reason) {
    auto transfer = Make(url);
    EXPECT_EQ(Run(*transfer), CInetFile::kInternetError) << url;
    EXPECT_NE(transfer->GetErrorMessage().find(reason), std::string::npos)
        << url << ": " << transfer->GetErrorMessage();
    EXPECT_EQ(Bodies(), std::vector<std::string>{}) << url;
  };
  {
    // The system's own store does not know the test's CA.
    const ScopedTrust system("");
    fails_with(https + "/Storage/item.bin",
               "certificate verify failed: unable to get local issuer certificate");
  }
  {
    // A folder of certificates named by their hashes, as SSL_CERT_DIR names it, serves as
    // well (libcurl is handed it; it does not read the variable itself).
    scratch_.MakeDir("certs");
    fs::copy_file(ca.ca_file(), scratch_ / "certs/ca.pem");
    ASSERT_EQ(RunCommand({"openssl", "rehash", scratch_ / "certs"}).exit_code, 0);
    const ScopedTrust folder(scratch_ / "certs", "SSL_CERT_DIR");
    auto transfer = Make(https + "/Storage/item.bin");
    ASSERT_EQ(Run(*transfer), CInetFile::kSuccess) << transfer->GetErrorMessage();
  }
  const ScopedTrust trust(ca.ca_file());
  for (const std::string& url : {https + "/Storage/item.bin", std::string()}) {
    // Directly, and through a redirect from http to https.
    RedirectServer redirect(https + "/Storage/item.bin");
    auto transfer = Make(url.empty() ? redirect.Url("/moved.bin") : url);
    ASSERT_EQ(Run(*transfer), CInetFile::kSuccess) << transfer->GetErrorMessage();
    EXPECT_EQ(out_.Read(fs::path(transfer->body_path()).filename()), body_);
    EXPECT_EQ(transfer->expected_length(), body_.size());
  }
  // Never from https back to http, nor from http to another scheme.
  const std::string refused = Gb("重定向失败, 请选择其他服务器进行尝试");
  fails_with(https + "/back", refused + " (a redirect from https to ");
  {
    RedirectServer redirect(https + "/back");
    fails_with(redirect.Url("/moved.bin"), refused + " (a redirect from https to http");
  }
  {
    RedirectServer redirect("ftp://127.0.0.1:" + std::to_string(vendor_->port()) + "/x");
    fails_with(redirect.Url("/moved.bin"), refused + " (a redirect to another scheme");
  }
  // The plain service heard nothing of the refused redirects.
  EXPECT_EQ(log_.Read("requests.log"), "");
  // A certificate of another name.
  EXPECT_EQ(service->Stop(), 0);
  service = start_https(ca.Issue("misnamed", "DNS:other.test"));
  fails_with("https://127.0.0.1:" + std::to_string(service->port()) + "/Storage/item.bin",
             "certificate verify failed: ");
  EXPECT_EQ(service->Stop(), 0) << service->Errors();
}

TEST_F(InetFileTest, DestroyingARunningTransferCancelsAndJoinsItsThread) {
  Start({"/Storage/item=slow:2048:100"});
  auto transfer = Make(Url("/Storage/item.bin"));
  ASSERT_TRUE(transfer->StartTransfer());
  ASSERT_TRUE(owner_.WaitForProgress());
  const auto destroyed_at = Clock::now();
  transfer.reset();
  EXPECT_LT(Clock::now() - destroyed_at, kBound);
  // Its thread has ended: nothing more is posted afterwards.
  const std::size_t count = owner_.Messages().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_EQ(owner_.Messages().size(), count);
  EXPECT_TRUE(owner_.Ends().empty());
}

TEST_F(InetFileTest, TheListFindsByNameWithoutLetterCaseAndDeletesWhatItHolds) {
  net::CInetFiles list;
  EXPECT_EQ(list.GetFront(), nullptr);
  auto add = [&list](const std::string& name) {
    auto transfer = std::make_unique<CInetFile>();
    transfer->display_name = name;
    CInetFile* raw = transfer.get();
    list.Add(std::move(transfer));
    return raw;
  };
  CInetFile* chinese = add(Gb("下载的书ABC.pdf"));
  // Two double-byte characters whose trail bytes are 'A' and 'a': distinct characters.
  CInetFile* trail_upper = add("\x81\x41");
  CInetFile* trail_lower = add("\x81\x61");
  EXPECT_EQ(list.GetCount(), 3u);
  EXPECT_EQ(list.GetFront(), chinese);
  EXPECT_EQ(list.FindByName(Gb("下载的书abc.PDF")), chinese);
  EXPECT_EQ(list.FindByName(Gb("下载的书ABC.pdf")), chinese);
  EXPECT_EQ(list.FindByName(Gb("上载的书ABC.pdf")), nullptr);
  EXPECT_EQ(list.FindByName("\x81\x41"), trail_upper);
  EXPECT_EQ(list.FindByName("\x81\x61"), trail_lower);
  EXPECT_EQ(list.FindById(trail_lower->id()), trail_lower);

  const std::uint64_t removed_id = chinese->id();
  list.Remove(chinese);
  EXPECT_EQ(list.GetCount(), 2u);
  EXPECT_EQ(list.FindById(removed_id), nullptr);
  EXPECT_EQ(list.GetFront(), trail_upper);
  list.DeleteAll();
  EXPECT_EQ(list.GetCount(), 0u);
  EXPECT_EQ(list.GetFront(), nullptr);
}

TEST_F(InetFileTest, TheListCancelsAndJoinsRunningTransfersWhenItDeletesThem) {
  Start({"/Storage/item=slow:2048:100"});
  net::CInetFiles list;
  for (int i = 0; i < 3; ++i) {
    auto transfer = Make(Url("/Storage/item.bin"));
    transfer->local_path = out_ / ("item" + std::to_string(i));
    ASSERT_TRUE(transfer->StartTransfer());
    list.Add(std::move(transfer));
  }
  ASSERT_TRUE(owner_.WaitForProgress());
  const auto started = Clock::now();
  list.Remove(list.GetFront());
  EXPECT_EQ(list.GetCount(), 2u);
  list.DeleteAll();
  EXPECT_EQ(list.GetCount(), 0u);
  EXPECT_LT(Clock::now() - started, kBound);
  const std::size_t count = owner_.Messages().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_EQ(owner_.Messages().size(), count);
  EXPECT_TRUE(owner_.Ends().empty());
}

}  // namespace

// Resumable transfers: the partial file beside the target, continued with a range
// guarded by the validator the server gave, started again when it cannot be continued.
class ResumeTest : public InetFileTest {
 protected:
  std::string Partial() const { return out_ / ".item.bin.partial"; }
  std::string Validator() const { return Partial() + "-validator"; }
  std::unique_ptr<CInetFile> MakeResumable(const std::string& path = "/Storage/item.bin") {
    auto transfer = Make(Url(path));
    transfer->resume = true;
    transfer->notify = owner_.Notify([this] { return Partial(); });
    return transfer;
  }
  // The ranges the requests asked for, in order ("" for a request without one).
  std::vector<std::string> RangesAsked() const {
    std::vector<std::string> ranges;
    const std::string log = log_.Read("requests.log");
    for (std::size_t at = log.find("GET "); at != std::string::npos;
         at = log.find("GET ", at + 1)) {
      const std::string head = log.substr(at, log.find("\r\n\r\n", at) - at);
      const std::size_t range = head.find("\r\nRange: ");
      ranges.push_back(range == std::string::npos
                           ? ""
                           : head.substr(range + 9, head.find("\r\n", range + 2) - range - 9));
    }
    return ranges;
  }
};

TEST_F(ResumeTest, DropsAndACancelAreContinuedWhereTheyStoppedToAByteIdenticalFile) {
  // Each answer is cut after 100,000 bytes: three runs fail with 2, each keeping what
  // it got, and the fourth fetches the last 123 bytes.
  root_.Write("faults.txt", "/Storage/item=drop:100000\n");
  Start();
  auto transfer = MakeResumable();
  for (int run = 1; run <= 3; ++run) {
    EXPECT_EQ(Run(*transfer), CInetFile::kInternetError) << run;
    EXPECT_EQ(FileSize(Partial()), 100000 * run);
    EXPECT_EQ(transfer->bytes_received(), 100000u * run);
    EXPECT_EQ(transfer->expected_length(), body_.size());
    EXPECT_EQ(transfer->body_path(), "");
    EXPECT_TRUE(fs::exists(Validator()));
  }
  ASSERT_EQ(Run(*transfer), CInetFile::kSuccess);
  EXPECT_EQ(transfer->body_path(), Partial());
  EXPECT_EQ(out_.Read(".item.bin.partial"), body_);
  EXPECT_FALSE(fs::exists(Validator()));
  EXPECT_EQ(owner_.ProgressSum(), body_.size());  // no byte fetched twice
  EXPECT_EQ(RangesAsked(),
            (std::vector<std::string>{"", "bytes=100000-", "bytes=200000-", "bytes=300000-"}));
  EXPECT_EQ(Bodies(), std::vector<std::string>{});  // no ".update" body besides
  const CInetFile::KeptBody body = transfer->TakeBody();
  EXPECT_EQ(body.path, Partial());

  // A cancelled run keeps its bytes too, and the next one continues them.
  fs::remove(Partial());
  root_.Write("faults.txt", "/Storage/item=slow:16384:30\n");
  auto cancelled = MakeResumable();
  ASSERT_TRUE(cancelled->StartTransfer());
  const auto started = Clock::now();
  while (FileSize(Partial()) < 16384 && Clock::now() - started < kBound)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  // While it runs nobody else writes or removes its partial file.
  EXPECT_FALSE(CInetFile::RemovePartial(Target()));
  auto second = MakeResumable();
  EXPECT_EQ(Run(*second), CInetFile::kCannotCreate);
  cancelled->Cancel();
  cancelled->Wait();
  const long long kept = FileSize(Partial());
  EXPECT_GE(kept, 16384);
  EXPECT_EQ(out_.Read(".item.bin.partial"), body_.substr(0, kept));
  root_.Write("faults.txt", "");
  ASSERT_EQ(Run(*cancelled), CInetFile::kSuccess);
  EXPECT_EQ(out_.Read(".item.bin.partial"), body_);
  EXPECT_EQ(RangesAsked().back(), "bytes=" + std::to_string(kept) + "-");
  // The helper for "Del" removes a partial file and its validator once nobody writes.
  cancelled.reset();
  out_.Write(".item.bin.partial", "x");
  out_.Write(".item.bin.partial-validator", "\"v\"\n");
  EXPECT_TRUE(CInetFile::RemovePartial(Target()));
  EXPECT_FALSE(fs::exists(Partial()));
  EXPECT_FALSE(fs::exists(Validator()));
}

TEST_F(ResumeTest, AKilledProcessLeavesItsPartialFileAndTheNextRunContinuesIt) {
  root_.Write("faults.txt", "/Storage/item=slow:16384:30\n");
  Start();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    CInetFile transfer;
    transfer.url = Url("/Storage/item.bin");
    transfer.local_path = Target();
    transfer.resume = true;
    if (transfer.StartTransfer()) transfer.Wait();
    ::_exit(0);
  }
  const auto started = Clock::now();
  while (FileSize(Partial()) < 50000 && Clock::now() - started < kBound)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ::kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  const long long kept = FileSize(Partial());
  ASSERT_GE(kept, 50000);
  ASSERT_LT(kept, static_cast<long long>(body_.size()));
  // The share it got is known: the whole length is kept with the validator.
  std::uint64_t have = 0, whole = 0;
  ASSERT_TRUE(net::PartialShare(Partial(), &have, &whole));
  EXPECT_EQ(have, static_cast<std::uint64_t>(kept));
  EXPECT_EQ(whole, body_.size());
  // A validator kept without the length (as an earlier build wrote it) is continued as
  // well; only its share is unknown.
  const std::string validator = net::ReadValidator(Partial());
  EXPECT_EQ(out_.Read(".item.bin.partial-validator"),
            validator + "\n" + std::to_string(body_.size()) + "\n");
  out_.Write(".item.bin.partial-validator", validator + "\n");
  EXPECT_FALSE(net::PartialShare(Partial(), &have, &whole));
  root_.Write("faults.txt", "");
  auto transfer = MakeResumable();
  ASSERT_EQ(Run(*transfer), CInetFile::kSuccess);
  EXPECT_EQ(out_.Read(".item.bin.partial"), body_);
  EXPECT_EQ(owner_.ProgressSum(), body_.size() - kept);
  EXPECT_EQ(RangesAsked().back(), "bytes=" + std::to_string(kept) + "-");
}

TEST_F(ResumeTest, WhatCannotBeContinuedStartsAgainFromZeroAndEndsRight) {
  Start();
  const auto broken_run = [&] {
    root_.Write("faults.txt", "/Storage/item=drop:1000\n");
    auto transfer = MakeResumable();
    EXPECT_EQ(Run(*transfer), CInetFile::kInternetError);
    EXPECT_EQ(FileSize(Partial()), 1000);
  };
  // A server that ignores the range: its 200 fills the file again.
  broken_run();
  root_.Write("faults.txt", "/Storage/item=no-ranges\n");
  auto ignored = MakeResumable();
  ASSERT_EQ(Run(*ignored), CInetFile::kSuccess);
  EXPECT_EQ(out_.Read(".item.bin.partial"), body_);
  EXPECT_EQ(RangesAsked().back(), "bytes=1000-");
  ignored.reset();
  // A file that changed: its new validator does not match, the whole new version comes.
  broken_run();
  root_.Write("faults.txt", "/Storage/item=changing\n");
  auto changed = MakeResumable();
  ASSERT_EQ(Run(*changed), CInetFile::kSuccess);
  std::string version = body_;
  for (char& c : version) c = static_cast<char>(c ^ 1);
  EXPECT_TRUE(out_.Read(".item.bin.partial") == version);
  changed.reset();
  // A partial file longer than the file (416), one without its validator, and one whose
  // validator was cut by a kill: one request for the whole file, from zero.
  broken_run();
  root_.Write("faults.txt", "");
  out_.Write(".item.bin.partial", body_ + "tail");
  auto longer = MakeResumable();
  ASSERT_EQ(Run(*longer), CInetFile::kSuccess);
  EXPECT_EQ(out_.Read(".item.bin.partial"), body_);
  const std::vector<std::string> asked = RangesAsked();
  EXPECT_EQ(asked[asked.size() - 2], "bytes=" + std::to_string(body_.size() + 4) + "-");
  EXPECT_EQ(asked.back(), "");
  longer.reset();
  for (const std::string& validator : {std::string(), std::string("\"cut")}) {
    out_.Write(".item.bin.partial", "stale bytes");
    if (!validator.empty()) out_.Write(".item.bin.partial-validator", validator);
    auto transfer = MakeResumable();
    ASSERT_EQ(Run(*transfer), CInetFile::kSuccess);
    EXPECT_EQ(out_.Read(".item.bin.partial"), body_);
    EXPECT_EQ(RangesAsked().back(), "");
  }
}

TEST_F(ResumeTest, HostileTargetsAndPlantedFilesNeverReachAnythingElse) {
  Start();
  // A target without a name of its own has no partial file.
  for (const std::string& target : {out_ / "..", out_ / ".", out_.path() + "/"}) {
    EXPECT_EQ(net::PartialPathFor(target), "") << target;
    auto transfer = MakeResumable();
    transfer->local_path = target;
    EXPECT_EQ(Run(*transfer), CInetFile::kCannotCreate) << target;
    EXPECT_TRUE(CInetFile::RemovePartial(target));
  }
  // A name in the code page, with a line break and dots: its partial file beside it.
  const std::string odd = Gb("书..\n名");
  auto transfer = MakeResumable();
  transfer->local_path = out_ / odd;
  ASSERT_EQ(Run(*transfer), CInetFile::kSuccess);
  EXPECT_EQ(net::PartialPathFor(out_ / odd), out_ / ("." + odd + ".partial"));
  EXPECT_EQ(transfer->body_path(), ansi::NativePath(out_ / ("." + odd + ".partial")));
  transfer.reset();
  // A link or a FIFO planted as the partial file is neither followed nor blocked on.
  scratch_.Write("victim.txt", "victim");
  fs::create_symlink(scratch_ / "victim.txt", Partial());
  auto linked = MakeResumable();
  EXPECT_EQ(Run(*linked), CInetFile::kCannotCreate);
  EXPECT_EQ(scratch_.Read("victim.txt"), "victim");
  fs::remove(Partial());
  ASSERT_EQ(::mkfifo(Partial().c_str(), 0600), 0);
  auto fifo = MakeResumable();
  EXPECT_EQ(Run(*fifo), CInetFile::kCannotCreate);
}

TEST_F(InetFileTest, AUserNameAnswersBasicAndDigestOnlyWhenTheServerAsks) {
  root_.Write("accounts.txt", "reader\tsecret\tU100\n");
  Start();
  auto open = Make(Url("/opds/files/3.epub"), CInetFile::kServerList);
  ASSERT_EQ(Run(*open), CInetFile::kSuccess);
  const std::string book = out_.Read("item.bin");
  ASSERT_FALSE(book.empty());
  // Asked for nothing, the name is never sent.
  open->user = "reader";
  open->password = "secret";
  ASSERT_EQ(Run(*open), CInetFile::kSuccess);
  EXPECT_EQ(log_.Read("requests.log").find("Authorization"), std::string::npos);
  // Redirected to another host that asks, the name stays behind: refused there.
  RedirectServer elsewhere("http://localhost:" + std::to_string(vendor_->port()) +
                           "/opds-basic/files/3.epub");
  auto moved = Make(elsewhere.Url("/moved.epub"), CInetFile::kServerList);
  moved->user = "reader";
  moved->password = "secret";
  EXPECT_EQ(Run(*moved), CInetFile::kNotFound);
  EXPECT_EQ(log_.Read("requests.log").find("Authorization"), std::string::npos);

  for (const std::string prefix : {"/opds-basic", "/opds-digest", "/opds-digest-md5"}) {
    for (const std::string password : {"secret", "wrong", ""}) {
      fs::remove(Target());
      auto transfer = Make(Url(prefix + "/files/3.epub"), CInetFile::kServerList);
      if (!password.empty()) {
        transfer->user = "reader";
        transfer->password = password;
      }
      const bool right = password == "secret";
      EXPECT_EQ(Run(*transfer), right ? CInetFile::kSuccess : CInetFile::kNotFound)
          << prefix << " " << password;
      // A refusal leaves no file, and no 401 page is taken for the book.
      EXPECT_EQ(fs::exists(Target()) ? out_.Read("item.bin") : "(none)", right ? book : "(none)")
          << prefix << " " << password;
    }
  }
}
