// TLS for the raw requests: OpenSSL on a socket already connected, the server's
// certificate verified against the system's trust store (which OpenSSL takes from
// SSL_CERT_FILE and SSL_CERT_DIR when they are set) and its name or address checked
// against the host asked for. There is no way to switch the verification off.
// A connection resumes the last TLS 1.3 session of the same host, port and trust store
// when it has one (the key exchange still runs, so that a resumed connection keeps its
// forward secrecy); a session is kept only from a handshake that verified.
#ifndef LUMORA_NET_TLS_H_
#define LUMORA_NET_TLS_H_

#include <openssl/ssl.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/status.h"

namespace net {

struct SslContextFree {
  void operator()(SSL_CTX* context) const noexcept { SSL_CTX_free(context); }
};
struct SslFree {
  void operator()(SSL* ssl) const noexcept { SSL_free(ssl); }
};
using SslContext = std::unique_ptr<SSL_CTX, SslContextFree>;
using SslConnection = std::unique_ptr<SSL, SslFree>;
struct SslSessionFree {
  void operator()(SSL_SESSION* session) const noexcept { SSL_SESSION_free(session); }
};
using SslSession = std::unique_ptr<SSL_SESSION, SslSessionFree>;

using Deadline = std::chrono::steady_clock::time_point;

// Why a peer's certificate did not verify, in words, from OpenSSL's verification result
// (X509_V_OK gives an empty text).
std::string CertificateFailure(long verify_result);

// The trust store the program verifies servers against: SSL_CERT_FILE and SSL_CERT_DIR
// when set (each empty when not), as libcurl does not read them by itself.
std::string TrustFile();
std::string TrustFolder();

// How many TLS handshakes of this process resumed a session.
std::uint64_t ResumedHandshakes();

// The shared client context of one trust store, with the sessions it may resume.
struct ClientContext;

// One client side of a TLS connection over a connected non-blocking socket, which it
// does not own.
class TlsClient {
 public:
  // The handshake with |host| at |port| (|host| sent as the server name unless it is an
  // address), the certificate verified and matched against |host|, all before |deadline|
  // (or a session of the same host, port and trust store resumed). Unavailable
  // when time runs out; IoError naming the reason otherwise (a certificate that does not
  // verify, a name that does not match, a failed handshake).
  [[nodiscard]] base::Status Connect(int fd, const std::string& host, int port, Deadline deadline);
  // Queues |bytes| to be sent, sending what waits before |deadline| once it fills a
  // record: a record of its own for every small piece would cost a packet, a seal and a
  // wake-up of the server each.
  [[nodiscard]] base::Status Write(std::string_view bytes, Deadline deadline);
  // Sends all that waits before |deadline|.
  [[nodiscard]] base::Status Flush(Deadline deadline);
  // Up to |size| bytes into |buffer|, their count in |received|: 0 when the server ended
  // the connection. Unavailable when |deadline| passed first; IoError when the TLS layer
  // failed.
  [[nodiscard]] base::Status Read(char* buffer, std::size_t size, Deadline deadline,
                                  std::size_t* received);

 private:
  // After an operation that gave |result|: Ok once the socket is ready to try again,
  // or why it cannot go on.
  [[nodiscard]] base::Status Retry(int result, Deadline deadline, const char* what);

  // Keeps |session|, a session the server gave this connection, for the next connection
  // to the same host (OpenSSL's callback for new sessions).
  static int KeepSession(SSL* ssl, SSL_SESSION* session) noexcept;

  std::shared_ptr<ClientContext> context_;
  std::string session_key_;  // the host and port the sessions of this connection are for
  bool verified_ = false;    // the handshake ended with a verified certificate
  SslConnection ssl_;
  std::string waiting_;  // written, not sent yet
  int fd_ = -1;
};

}  // namespace net

#endif  // LUMORA_NET_TLS_H_
