#include "net/request.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <memory>
#include <string_view>

#include "base/unique_file.h"
#include "net/reply_body.h"
#include "net/reply_header.h"
#include "net/tls.h"

namespace net {
namespace {

// The limits of the working buffers: longer parts are cut.
constexpr std::size_t kMaxScheme = 19, kMaxHost = 255, kMaxPath = 1023;
constexpr std::size_t kBodyPiece = 511;

using base::PosixError;
using base::Status;

// A connected socket, closed when it goes out of scope.
class Socket {
 public:
  // Connects to |address| within |timeout_ms|; |tls| keeps the socket non-blocking for
  // StartTls.
  [[nodiscard]] Status Connect(const sockaddr_in& address, int timeout_ms, bool tls) {
    fd_.Reset(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd_.valid()) return PosixError("socket", errno);
    const int flags = fcntl(fd_.get(), F_GETFL);
    if (flags < 0 || fcntl(fd_.get(), F_SETFL, flags | O_NONBLOCK) != 0)
      return PosixError("fcntl", errno);
    if (connect(fd_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      if (errno != EINPROGRESS) return PosixError("connect", errno);
      pollfd p{fd_.get(), POLLOUT, 0};
      const int ready = poll(&p, 1, timeout_ms);
      if (ready == 0) return Status::Unavailable("connect: no answer in time");
      if (ready < 0) return PosixError("poll", errno);
      int error = 0;
      socklen_t size = sizeof error;
      if (getsockopt(fd_.get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        return PosixError("getsockopt", errno);
      if (error != 0) return PosixError("connect", error);
    }
    timeout_ms_ = timeout_ms;
    // Over TLS the socket stays non-blocking: every wait is a poll with a deadline.
    if (tls) return Status::Ok();
    if (fcntl(fd_.get(), F_SETFL, flags) != 0) return PosixError("fcntl", errno);
    // Sending may not wait longer either.
    timeval limit{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    if (setsockopt(fd_.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) != 0)
      return PosixError("setsockopt", errno);
    return Status::Ok();
  }

  // Speaks TLS with |host| at |port| from now on; the handshake ends before |deadline|.
  [[nodiscard]] Status StartTls(const std::string& host, int port, Deadline deadline) {
    tls_ = std::make_unique<TlsClient>();
    return tls_->Connect(fd_.get(), host, port, deadline);
  }

  // Sends all of |piece| (over TLS, once Flush is called or a record fills); fails when
  // the connection does.
  [[nodiscard]] Status Send(std::string_view piece) {
    if (tls_) return tls_->Write(piece, SendDeadline());
    while (!piece.empty()) {
      ssize_t n = send(fd_.get(), piece.data(), piece.size(), MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return PosixError("send", errno);
      if (n == 0) return Status::IoError("send: nothing taken");
      piece.remove_prefix(static_cast<std::size_t>(n));
    }
    return Status::Ok();
  }

  // Sends what Send left waiting (over TLS).
  [[nodiscard]] Status Flush() { return tls_ ? tls_->Flush(SendDeadline()) : Status::Ok(); }

  // Up to |size| bytes into |buffer|, their count in |received|: 0 when the server
  // closed or the connection broke (both end what is being read). Unavailable when
  // |deadline| passed first.
  [[nodiscard]] Status Receive(char* buffer, std::size_t size,
                               std::chrono::steady_clock::time_point deadline,
                               std::size_t* received) {
    if (tls_) return tls_->Read(buffer, size, deadline, received);
    *received = 0;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      pollfd p{fd_.get(), POLLIN, 0};
      const int ready = left > 0 ? poll(&p, 1, static_cast<int>(left)) : 0;
      if (ready < 0 && errno == EINTR) continue;
      if (ready == 0) return Status::Unavailable("the reply took too long");
      if (ready < 0) return Status::Ok();
      const ssize_t n = recv(fd_.get(), buffer, size, 0);
      if (n >= 0) {
        *received = static_cast<std::size_t>(n);
        return Status::Ok();
      }
      if (errno == EINTR || errno == EAGAIN) continue;
      return Status::Ok();
    }
  }

 private:
  Deadline SendDeadline() const {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms_);
  }

  base::UniqueFd fd_;
  int timeout_ms_ = 0;
  std::unique_ptr<TlsClient> tls_;  // goes before the socket it speaks on
};

struct AddressInfoFree {
  void operator()(addrinfo* info) const noexcept { freeaddrinfo(info); }
};

// The first IPv4 address of |host|, with |port|.
Status Resolve(const std::string& host, int port, sockaddr_in* address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int error = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  const std::unique_ptr<addrinfo, AddressInfoFree> owned(found);
  if (error != 0) return Status::NotFound(host + ": " + gai_strerror(error));
  if (found == nullptr) return Status::NotFound(host + ": no address");
  *address = *reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  address->sin_port = htons(static_cast<std::uint16_t>(port));
  return Status::Ok();
}

bool IsHostCharacter(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' ||
         c == '.' || c == ':';
}

}  // namespace

void ParseUrl(const std::string& url, std::string* scheme, std::string* host, std::string* path,
              int* port) {
  std::string upper = url;
  // Only ASCII letters change, whatever the locale.
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  *port = 80;
  std::size_t pos = 0;
  const std::size_t colon = upper.find(':');
  if (colon != std::string::npos) {
    *scheme = upper.substr(0, std::min(colon, kMaxScheme));
    pos = colon + 1;
  } else {
    *scheme = "HTTP";
  }
  if (*scheme == "HTTPS") *port = 443;
  if (upper.compare(pos, 2, "//") == 0) pos += 2;
  std::size_t end = pos;
  while (end < upper.size() && IsHostCharacter(upper[end])) ++end;
  *host = upper.substr(pos, std::min(end - pos, kMaxHost));
  *path = url.substr(end, kMaxPath);
  const std::size_t port_colon = host->find(':');
  if (port_colon != std::string::npos) {
    // A port that is no number in range is none (0), and the request then fails.
    const char* digits = host->c_str() + port_colon + 1;
    const char* end = host->c_str() + host->size();
    int parsed = 0;
    const std::errc error = std::from_chars(digits, end, parsed).ec;
    *port = error == std::errc() && parsed > 0 && parsed <= 65535 ? parsed : 0;
    host->resize(port_colon);
  }
}

int Request::SendRequest(const std::string& url, const char* extra_headers, const char* body,
                         long body_length, std::string* request_text, std::string* header,
                         std::string* reply_body) {
  Reply reply;
  last_failure_ = Exchange(url, extra_headers, body, body_length, &reply);
  if (!last_failure_.ok()) return 1;
  *request_text = std::move(reply.sent);
  *header = std::move(reply.head);
  *reply_body = ReplyBodyToAnsi(reply.raw_body);
  return 0;
}

Status Request::Exchange(const std::string& url, const char* extra_headers, const char* body,
                         long body_length, Reply* reply) const {
  std::string scheme, host, path;
  int port = 80;
  ParseUrl(url, &scheme, &host, &path, &port);
  // "https" speaks TLS on the same socket.
  const bool tls = scheme == "HTTPS";
  if (!tls && scheme != "HTTP") return Status::Invalid("not an http or https URL: " + url);

  // A control character (a line end above all) or a space in the path would end the
  // request line early and let the rest pass for more of the request.
  const bool controls = std::any_of(path.begin(), path.end(), [](char c) {
    return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F;
  });
  if (controls) return Status::Invalid("a control character or a space in the path: " + url);
  if (port <= 0 || port > 65535) return Status::Invalid("no port from 1 to 65535: " + url);
  sockaddr_in address{};
  if (Status s = Resolve(host, port, &address); !s.ok()) return s;
  // Connecting and the TLS handshake together must end within the time-out.
  const Deadline connected =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms_);
  Socket socket;
  if (Status s = socket.Connect(address, timeout_ms_, tls); !s.ok()) return s;
  if (tls) {
    if (Status s = socket.StartTls(host, port, connected); !s.ok()) return s;
  }
  if (path.empty()) path = "/";

  // Each piece is sent on its own, and kept as sent.
  std::string& sent = reply->sent;
  auto send_piece = [&](std::string_view piece) {
    sent.append(piece);
    return socket.Send(piece).ok();
  };
  const std::size_t length = body != nullptr && body_length > 0 ? body_length : 0;
  // A server may answer before it has taken the whole request: the reply still counts,
  // so whether all of it went is not looked at.
  (void)(send_piece(body != nullptr ? "POST " : "GET ") && send_piece(path) &&
         send_piece(" HTTP/1.0\r\n") &&
         send_piece("Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
                    "application/vnd.ms-excel, application/msword, "
                    "application/vnd.ms-powerpoint, */*\r\n") &&
         send_piece("Accept-Language: en-us\r\n") &&
         send_piece("Accept-Encoding: gzip, deflate\r\n") &&
         send_piece("User-Agent: Mozilla/4.0\r\n") &&
         (length == 0 || send_piece("Content-Length: " + std::to_string(length) + "\r\n")) &&
         send_piece("Host: " + host + "\r\n") &&
         (extra_headers == nullptr || *extra_headers == '\0' || send_piece(extra_headers)) &&
         send_piece("\r\n") && (length == 0 || send_piece(std::string_view(body, length))) &&
         socket.Flush().ok());

  // The whole reply must come within the time-out.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms_);
  const Status too_large =
      Status::TooLarge("a reply over " + std::to_string(kMaxReplyBytes) + " bytes: " + url);
  // The header block, byte by byte, up to the empty line.
  ReplyHeader header;
  for (;;) {
    char c;
    std::size_t n = 0;
    if (Status s = socket.Receive(&c, 1, deadline, &n); !s.ok()) return s;
    if (header.text().size() >= kMaxReplyBytes) return too_large;
    if (n == 0 || header.Add(c)) break;
  }
  const std::string& head = reply->head = header.Take();
  // The body, in pieces, until the server closes.
  std::string& raw = reply->raw_body;
  char piece[kBodyPiece];
  for (;;) {
    std::size_t n = 0;
    if (Status s = socket.Receive(piece, sizeof piece, deadline, &n); !s.ok()) return s;
    if (head.size() + raw.size() > kMaxReplyBytes) return too_large;
    if (n == 0) break;
    raw.append(piece, n);
  }
  return Status::Ok();
}

void Request::Retrieve(bool post, const std::string& url, std::string* request_text,
                       std::string* header, std::string* body) {
  std::string sent, head, text;
  const std::string form = post ? *request_text : std::string();
  const int result =
      post ? SendRequest(url, "Content-Type: application/x-www-form-urlencoded\r\n", form.c_str(),
                         static_cast<long>(form.size()), &sent, &head, &text)
           : SendRequest(url, nullptr, nullptr, 0, &sent, &head, &text);
  if (result != 0) return;  // last_failure_ says why
  *request_text = std::move(sent);
  *header = std::move(head);
  *body = std::move(text);
}

}  // namespace net
