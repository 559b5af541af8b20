#include "net/tls.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>
#include <poll.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <utility>

namespace net {

struct ClientContext {
  SslContext context;
  std::string store;  // SSL_CERT_FILE and SSL_CERT_DIR, a line apart
  std::mutex mutex;
  // The last session kept for each host and port, taken by the next connection to them
  // (a session serves one connection: two that offer the same one can be linked).
  std::map<std::string, SslSession> sessions;
};

namespace {

using base::Status;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The first error OpenSSL queued on this thread, in words.
std::string OpenSslError() {
  const unsigned long error = ERR_peek_error();
  if (error == 0) return "the connection was closed";
  char text[256];
  ERR_error_string_n(error, text, sizeof text);
  return text;
}

bool IsAddress(const std::string& host) {
  unsigned char bytes[16];
  return inet_pton(AF_INET, host.c_str(), bytes) == 1 ||
         inet_pton(AF_INET6, host.c_str(), bytes) == 1;
}

std::atomic<std::uint64_t> resumed_handshakes{0};

// The client context for the trust store SSL_CERT_FILE and SSL_CERT_DIR name now: made
// once per store and shared (making one, with its store, costs more than a handshake),
// made again when the environment names another store, which also leaves the sessions
// of the old store behind. |keep| is told of every session a server gives.
Status SharedContext(int (*keep)(SSL*, SSL_SESSION*), std::shared_ptr<ClientContext>* context) {
  static std::mutex mutex;
  static std::shared_ptr<ClientContext> shared;
  const std::string store = TrustFile() + '\n' + TrustFolder();
  std::lock_guard<std::mutex> lock(mutex);
  if (!shared || store != shared->store) {
    SslContext made(SSL_CTX_new(TLS_client_method()));
    if (!made) return Status::IoError("TLS: no context: " + OpenSslError());
    SSL_CTX_set_min_proto_version(made.get(), TLS1_2_VERSION);
    SSL_CTX_set_verify(made.get(), SSL_VERIFY_PEER, nullptr);
    // Whole records come from the socket in one read rather than a header and a body.
    SSL_CTX_set_read_ahead(made.get(), 1);
    // The system's trust store, or the one SSL_CERT_FILE and SSL_CERT_DIR name.
    if (SSL_CTX_set_default_verify_paths(made.get()) != 1)
      return Status::IoError("TLS: no trust store: " + OpenSslError());
    // The sessions are kept by host in ClientContext, not in OpenSSL's own cache, which
    // would not tell one host from another.
    SSL_CTX_set_session_cache_mode(made.get(),
                                   SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(made.get(), keep);
    auto fresh = std::make_shared<ClientContext>();
    fresh->context = std::move(made);
    fresh->store = store;
    shared = std::move(fresh);
  }
  *context = shared;
  return Status::Ok();
}

}  // namespace

std::string CertificateFailure(long verify_result) {
  if (verify_result == X509_V_OK) return {};
  return std::string("certificate verify failed: ") + X509_verify_cert_error_string(verify_result);
}

std::string TrustFile() { return Env("SSL_CERT_FILE"); }
std::string TrustFolder() { return Env("SSL_CERT_DIR"); }

std::uint64_t ResumedHandshakes() { return resumed_handshakes.load(); }

int TlsClient::KeepSession(SSL* ssl, SSL_SESSION* session) noexcept {
  auto* client = static_cast<TlsClient*>(SSL_get_app_data(ssl));
  // Only a TLS 1.3 session resumes with a fresh key exchange (TLS 1.2 would go on from
  // the old secret), and only one of a handshake that verified the certificate.
  if (client == nullptr || !client->verified_ || SSL_get_verify_result(ssl) != X509_V_OK ||
      SSL_SESSION_get_protocol_version(session) != TLS1_3_VERSION ||
      SSL_SESSION_is_resumable(session) != 1)
    return 0;
  // OpenSSL hands its reference over when the callback returns 1.
  SslSession kept(session);
  std::lock_guard<std::mutex> lock(client->context_->mutex);
  client->context_->sessions[client->session_key_] = std::move(kept);
  return 1;
}

Status TlsClient::Retry(int result, Deadline deadline, const char* what) {
  const int error = SSL_get_error(ssl_.get(), result);
  short events = 0;
  if (error == SSL_ERROR_WANT_READ) events = POLLIN;
  if (error == SSL_ERROR_WANT_WRITE) events = POLLOUT;
  if (events == 0) {
    if (error == SSL_ERROR_SYSCALL && errno != 0)
      return base::PosixError(std::string("TLS ") + what, errno);
    return Status::IoError(std::string("TLS ") + what + " failed: " + OpenSslError());
  }
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) return Status::Unavailable(std::string("TLS ") + what + ": no answer in time");
    pollfd p{fd_, events, 0};
    const int ready = poll(&p, 1, static_cast<int>(left));
    if (ready > 0) return Status::Ok();
    if (ready < 0 && errno != EINTR) return base::PosixError("poll", errno);
  }
}

Status TlsClient::Connect(int fd, const std::string& host, int port, Deadline deadline) {
  fd_ = fd;
  ERR_clear_error();
  // Each record leaves at once: the request follows the handshake's last flight, and
  // waiting for that to be acknowledged first would cost a round trip.
  int on = 1;
  // Without it the exchange is only slower, never wrong.
  (void)setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  if (Status s = SharedContext(&TlsClient::KeepSession, &context_); !s.ok()) return s;
  ssl_.reset(SSL_new(context_->context.get()));
  if (!ssl_ || SSL_set_fd(ssl_.get(), fd) != 1)
    return Status::IoError("TLS: no connection: " + OpenSslError());
  SSL_set_app_data(ssl_.get(), this);
  // Names compare without regard to case; the server name goes in lower case.
  std::string name = host;
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  const bool address = IsAddress(name);
  const bool named =
      address ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_.get()), name.c_str()) == 1
              : SSL_set1_host(ssl_.get(), name.c_str()) == 1 &&
                    SSL_set_tlsext_host_name(ssl_.get(), name.c_str()) == 1;
  if (!named) return Status::Invalid("TLS: not a host name: " + host);
  // The session kept for this host and port under this trust store, offered once.
  session_key_ = name + '\n' + std::to_string(port);
  SslSession offered;
  {
    std::lock_guard<std::mutex> lock(context_->mutex);
    const auto kept = context_->sessions.find(session_key_);
    if (kept != context_->sessions.end()) {
      offered = std::move(kept->second);
      context_->sessions.erase(kept);
    }
  }
  if (offered && SSL_set_session(ssl_.get(), offered.get()) != 1)
    return Status::IoError("TLS: no session: " + OpenSslError());
  for (;;) {
    const int result = SSL_connect(ssl_.get());
    if (result == 1 && SSL_get_verify_result(ssl_.get()) == X509_V_OK) {
      verified_ = true;
      if (SSL_session_reused(ssl_.get()) == 1) ++resumed_handshakes;
      return Status::Ok();
    }
    const long verified = SSL_get_verify_result(ssl_.get());
    if (verified != X509_V_OK) return Status::IoError(host + ": " + CertificateFailure(verified));
    if (Status s = Retry(result, deadline, "handshake"); !s.ok())
      return s.code() == Status::Code::kUnavailable ? s
                                                    : Status::IoError(host + ": " + s.message());
  }
}

Status TlsClient::Write(std::string_view bytes, Deadline deadline) {
  waiting_.append(bytes);
  return waiting_.size() >= SSL3_RT_MAX_PLAIN_LENGTH ? Flush(deadline) : Status::Ok();
}

Status TlsClient::Flush(Deadline deadline) {
  std::string_view bytes = waiting_;
  while (!bytes.empty()) {
    ERR_clear_error();
    const int n = SSL_write(ssl_.get(), bytes.data(), static_cast<int>(bytes.size()));
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (Status s = Retry(n, deadline, "write"); !s.ok()) {
      waiting_.clear();
      return s;
    }
  }
  waiting_.clear();
  return Status::Ok();
}

Status TlsClient::Read(char* buffer, std::size_t size, Deadline deadline, std::size_t* received) {
  *received = 0;
  for (;;) {
    ERR_clear_error();
    const int n = SSL_read(ssl_.get(), buffer, static_cast<int>(size));
    if (n > 0) {
      *received = static_cast<std::size_t>(n);
      return Status::Ok();
    }
    const int error = SSL_get_error(ssl_.get(), n);
    // The server's close, with or without its TLS farewell, ends the reply as a closed
    // socket does over http.
    if (error == SSL_ERROR_ZERO_RETURN) {
      // The server's farewell is answered: OpenSSL resumes no session of a connection
      // that ended without one. Whether the answer still leaves changes nothing.
      (void)SSL_shutdown(ssl_.get());
      return Status::Ok();
    }
    if (error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) return Status::Ok();
    if (error == SSL_ERROR_SSL &&
        ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING)
      return Status::Ok();
    if (Status s = Retry(n, deadline, "read"); !s.ok()) return s;
  }
}

}  // namespace net
