#include "connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "query.h"

namespace vendor {
namespace {

using base::PosixError;
using base::Status;

// How long the service waits for the next bytes of a request, or for the client to take
// the next bytes of an answer.
constexpr int kReadTimeoutMs = 5000;
constexpr int kWriteTimeoutMs = 5000;
// How long a closing connection waits for the client to close its side.
constexpr int kLingerMs = 1000;
// Waits are cut into slices this long, so that a stop is seen soon.
constexpr int kSliceMs = 50;

std::string SocketAddress(const sockaddr_storage& address, int* port) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address.ss_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&address);
    inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    *port = ntohs(in->sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&address);
    inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
    *port = ntohs(in6->sin6_port);
  }
  return text;
}

// |head| without the header lines named in |names| (compared without regard to case);
// the first line and the empty line that ends the head stay.
std::string WithoutHeaderLines(const std::string& head,
                               std::initializer_list<std::string_view> names) {
  std::string out;
  std::size_t start = 0;
  bool first = true;
  while (start < head.size()) {
    std::size_t end = head.find("\r\n", start);
    if (end == std::string::npos) end = head.size();
    std::string_view line(head.data() + start, end - start);
    start = end + 2;
    if (line.empty()) break;
    std::size_t colon = line.find(':');
    std::string_view name = colon == std::string_view::npos ? line : line.substr(0, colon);
    if (!first && std::any_of(names.begin(), names.end(),
                              [&](std::string_view n) { return EqualsIgnoringCase(name, n); })) {
      continue;
    }
    first = false;
    out.append(line);
    out += "\r\n";
  }
  return out + "\r\n";
}

// |head| without Content-Length, Connection and Keep-Alive lines, with "Connection: close".
std::string WithoutLength(const std::string& head) {
  std::string out = WithoutHeaderLines(head, {"Content-Length", "Connection", "Keep-Alive"});
  out.insert(out.size() - 2, "Connection: close\r\n");
  return out;
}

}  // namespace

Connection::Connection(int socket, const std::atomic<bool>& stopping)
    : socket_(socket), stopping_(stopping) {}

Connection::~Connection() {
  // A TLS connection says goodbye first, so that the client tells the end of an answer
  // from a cut.
  if (tls_ && SSL_is_init_finished(tls_.get())) (void)SSL_shutdown(tls_.get());
  // Ends the answer with a FIN, then lets the client close its side first, so that
  // request bytes still unread do not turn the close into a reset that could destroy the
  // answer before the client has read it.
  // Half-closing a socket the client already dropped fails, and changes nothing.
  (void)::shutdown(socket_.get(), SHUT_WR);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLingerMs);
  char scratch[4096];
  while (std::chrono::steady_clock::now() < deadline && WaitFor(POLLIN, kSliceMs).ok()) {
    ssize_t n = ::recv(socket_.get(), scratch, sizeof scratch, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
  }
}

Status Connection::WaitFor(short events, int timeout_ms) const {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (stopping_.load()) return Status::Unavailable("the service is stopping");
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) return Status::Unavailable("the client is too slow");
    pollfd fd{socket_.get(), events, 0};
    int ready = ::poll(&fd, 1, static_cast<int>(std::min<long long>(left, kSliceMs)));
    if (ready < 0 && errno != EINTR) return PosixError("poll", errno);
    if (ready > 0) {
      if ((fd.revents & (POLLERR | POLLNVAL)) == 0 || (fd.revents & events)) return Status::Ok();
      return Status::IoError("the connection failed");
    }
  }
}

Status Connection::Pause(int ms) const {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!stopping_.load()) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) return Status::Ok();
    // A sleep cut short by a signal is taken up again by the loop.
    (void)::poll(nullptr, 0, static_cast<int>(std::min<long long>(left, kSliceMs)));
  }
  return Status::Unavailable("the service is stopping");
}

Status Connection::Handshake(SSL_CTX* context) {
  tls_.reset(SSL_new(context));
  if (!tls_ || SSL_set_fd(tls_.get(), socket_.get()) != 1)
    return Status::IoError("TLS: no connection");
  SSL_set_mode(tls_.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  // Each record leaves at once: the head and the body of an answer are records of their
  // own, and the second would otherwise wait for the client's acknowledgement of the
  // first.
  int on = 1;
  // Without it the answer is only slower, never wrong.
  (void)::setsockopt(socket_.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  const int flags = ::fcntl(socket_.get(), F_GETFL);
  if (flags < 0 || ::fcntl(socket_.get(), F_SETFL, flags | O_NONBLOCK) != 0)
    return PosixError("fcntl", errno);
  for (;;) {
    const int result = SSL_accept(tls_.get());
    if (result == 1) return Status::Ok();
    const int error = SSL_get_error(tls_.get(), result);
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
      return Status::IoError("TLS handshake failed");
    if (Status ready = WaitFor(error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, kReadTimeoutMs);
        !ready.ok())
      return ready;
  }
}

ssize_t Connection::ReceiveSome(char* buffer, std::size_t size) {
  if (!tls_) return ::recv(socket_.get(), buffer, size, MSG_DONTWAIT);
  const int n =
      SSL_read(tls_.get(), buffer, static_cast<int>(std::min<std::size_t>(size, 1 << 30)));
  if (n > 0) return n;
  const int error = SSL_get_error(tls_.get(), n);
  if (error == SSL_ERROR_ZERO_RETURN) return 0;
  errno = error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE ? EAGAIN : EIO;
  return -1;
}

ssize_t Connection::SendSome(const char* data, std::size_t size) {
  if (!tls_) return ::send(socket_.get(), data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
  const int n = SSL_write(tls_.get(), data, static_cast<int>(std::min<std::size_t>(size, 1 << 30)));
  if (n > 0) return n;
  const int error = SSL_get_error(tls_.get(), n);
  errno = error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE ? EAGAIN : EIO;
  return -1;
}

Status Connection::Fill() {
  if (buffer_start_ > 0 && buffer_start_ * 2 >= buffer_.size()) {
    buffer_.erase(0, buffer_start_);
    buffer_start_ = 0;
  }
  for (;;) {
    if (!Pending()) {
      if (Status ready = WaitFor(POLLIN, kReadTimeoutMs); !ready.ok()) return ready;
    }
    char chunk[16384];
    ssize_t n = ReceiveSome(chunk, sizeof chunk);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n < 0) return PosixError("recv", errno);
    if (n == 0) return Status::Unavailable("the client closed the connection");
    buffer_.append(chunk, static_cast<std::size_t>(n));
    return Status::Ok();
  }
}

void Connection::HideFromLibrary(const std::string& head) {
  if (buffer_.compare(buffer_start_, head.size(), head) != 0) return;
  buffer_.replace(buffer_start_, head.size(),
                  WithoutHeaderLines(head, {"Accept-Encoding", "TE", "Range", "If-Range"}));
}

Status Connection::PeekHead(std::string* head) {
  const auto too_large = [] {
    return Status::TooLarge("a request head over " + std::to_string(kMaxHeadSize) + " bytes");
  };
  for (;;) {
    // Empty lines between requests are skipped, as HTTP allows.
    while (buffer_.compare(buffer_start_, 2, "\r\n") == 0) buffer_start_ += 2;
    std::size_t end = buffer_.find("\r\n\r\n", buffer_start_);
    if (end != std::string::npos) {
      if (end + 4 - buffer_start_ > kMaxHeadSize) return too_large();
      head->assign(buffer_, buffer_start_, end + 4 - buffer_start_);
      return Status::Ok();
    }
    if (buffer_.size() - buffer_start_ > kMaxHeadSize) return too_large();
    // The client closed, went quiet or failed, or the service is stopping: all of them
    // end the connection alike.
    if (Status filled = Fill(); !filled.ok())
      return Status::Unavailable("no request head: " + filled.message());
  }
}

void Connection::ShapeWith(const FaultRule& rule) {
  shape_ = rule;
  int on = 1;
  // Each slow piece leaves at once rather than waiting to be merged with the next; a
  // socket that refuses only sends its pieces merged.
  (void)::setsockopt(socket_.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

Status Connection::WriteRaw(std::string_view bytes) {
  while (!bytes.empty()) {
    if (Status ready = WaitFor(POLLOUT, kWriteTimeoutMs); !ready.ok()) return ready;
    ssize_t n = SendSome(bytes.data(), bytes.size());
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n < 0) return PosixError("send", errno);
    if (n == 0) return Status::IoError("send: nothing taken");
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return Status::Ok();
}

void Connection::HoldOpen() {
  char scratch[4096];
  buffer_.clear();
  buffer_start_ = 0;
  for (;;) {
    // WaitFor gives up after a while without bytes: wait again until the client closes.
    pollfd fd{socket_.get(), POLLIN, 0};
    if (stopping_.load()) return;
    int ready = Pending() ? 1 : ::poll(&fd, 1, kSliceMs);
    if (ready < 0 && errno != EINTR) return;
    if (ready <= 0) continue;
    ssize_t n = ReceiveSome(scratch, sizeof scratch);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return;
  }
}

bool Connection::is_readable() const {
  return buffer_start_ < buffer_.size() || Pending() || WaitFor(POLLIN, kReadTimeoutMs).ok();
}

bool Connection::is_writable() const { return WaitFor(POLLOUT, kWriteTimeoutMs).ok(); }

ssize_t Connection::read(char* ptr, size_t size) {
  if (buffer_start_ >= buffer_.size() && !Fill().ok()) return -1;
  std::size_t n = std::min(size, buffer_.size() - buffer_start_);
  std::copy_n(buffer_.data() + buffer_start_, n, ptr);
  buffer_start_ += n;
  return static_cast<ssize_t>(n);
}

ssize_t Connection::write(const char* ptr, size_t size) {
  if (shape_) return WriteShaped(ptr, size);
  return WriteRaw(std::string_view(ptr, size)).ok() ? static_cast<ssize_t>(size) : -1;
}

ssize_t Connection::WriteShaped(const char* ptr, std::size_t size) {
  std::string_view body(ptr, size);
  std::string held;
  if (in_head_) {
    // The head is gathered whole first, so that its lines can be rewritten.
    shaped_head_.append(ptr, size);
    std::size_t end = shaped_head_.find("\r\n\r\n");
    if (end == std::string::npos) return static_cast<ssize_t>(size);
    std::string head = shaped_head_.substr(0, end + 4);
    held = shaped_head_.substr(end + 4);
    shaped_head_.clear();
    in_head_ = false;
    if (shape_->kind == FaultKind::kNoLength) head = WithoutLength(head);
    if (!WriteRaw(head).ok()) return -1;
    body = held;
  }
  switch (shape_->kind) {
    case FaultKind::kDrop: {
      std::size_t allowed = shape_->bytes - std::min(shape_->bytes, body_written_);
      std::size_t n = std::min(allowed, body.size());
      if (!WriteRaw(body.substr(0, n)).ok()) return -1;
      body_written_ += n;
      // Past the allowance the write fails, and the library gives up on the connection.
      if (n < body.size()) return -1;
      break;
    }
    case FaultKind::kSlow:
      while (!body.empty()) {
        std::size_t in_piece = body_written_ % shape_->bytes;
        if (in_piece == 0 && body_written_ > 0 && !Pause(shape_->interval_ms).ok()) return -1;
        std::size_t n = std::min(shape_->bytes - in_piece, body.size());
        if (!WriteRaw(body.substr(0, n)).ok()) return -1;
        body_written_ += n;
        body.remove_prefix(n);
      }
      break;
    default:
      if (!WriteRaw(body).ok()) return -1;
      body_written_ += body.size();
      break;
  }
  return static_cast<ssize_t>(size);
}

void Connection::get_remote_ip_and_port(std::string& ip, int& port) const {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  port = 0;
  ip.clear();
  if (::getpeername(socket_.get(), reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    ip = SocketAddress(address, &port);
  }
}

void Connection::get_local_ip_and_port(std::string& ip, int& port) const {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  port = 0;
  ip.clear();
  if (::getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    ip = SocketAddress(address, &port);
  }
}

}  // namespace vendor
