// One client connection: the socket as the HTTP library's stream, with the bytes
// received kept in a buffer so that the service sees each request's head as sent before
// the library parses it. Every wait is bounded and ends when the service stops. A fault
// switch can shape what is written: headers rewritten, body slowed down or cut off. Over
// TLS (Handshake), every byte goes through OpenSSL; the rest is the same.
#ifndef LUMORA_TOOLS_VENDOR_CONNECTION_H_
#define LUMORA_TOOLS_VENDOR_CONNECTION_H_

#include <httplib.h>

#include <atomic>
#include <cstddef>
#include <optional>
#include <string>

#include "base/status.h"
#include "base/unique_file.h"
#include "faults.h"
#include "net/tls.h"

namespace vendor {

// The longest request head accepted (request line and headers).
inline constexpr std::size_t kMaxHeadSize = 64 * 1024;

class Connection : public httplib::Stream {
 public:
  Connection(int socket, const std::atomic<bool>& stopping);
  ~Connection() override;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Speaks TLS with |context| from now on: the server's side of the handshake, within
  // the read time-out. Fails when the client gives up or the handshake fails.
  [[nodiscard]] base::Status Handshake(SSL_CTX* context);

  // Waits for a whole request head (ending in an empty line) and copies it into |head|,
  // leaving it buffered for the library to read. TooLarge for more than kMaxHeadSize
  // bytes without an empty line; Unavailable when the client closed, went quiet for too
  // long, or the service is stopping.
  [[nodiscard]] base::Status PeekHead(std::string* head);

  // Takes out of the buffered |head| (as PeekHead gave it) the content codings the
  // client accepts, so that bodies always go as they are (the shelf's client announces
  // gzip and deflate but decodes neither, as the vendor's services knew), and its
  // Range and If-Range, which the service answers itself (the library's own ranges go
  // wrong past the end of a file).
  void HideFromLibrary(const std::string& head);

  // Shapes everything written from now on by |rule| (kNoLength, kSlow or kDrop).
  void ShapeWith(const FaultRule& rule);

  // Writes |bytes| as they are, unshaped. Fails when the client is gone.
  [[nodiscard]] base::Status WriteRaw(std::string_view bytes);

  // Reads and discards whatever the client sends until it closes or the service stops.
  void HoldOpen();

  // httplib::Stream.
  bool is_readable() const override;
  bool is_writable() const override;
  ssize_t read(char* ptr, size_t size) override;
  ssize_t write(const char* ptr, size_t size) override;
  void get_remote_ip_and_port(std::string& ip, int& port) const override;
  void get_local_ip_and_port(std::string& ip, int& port) const override;
  socket_t socket() const override { return socket_.get(); }

 private:
  // Waits up to the read time-out for bytes and appends them to the buffer; fails when
  // none came, the client closed or the service stops.
  [[nodiscard]] base::Status Fill();
  // Waits until |events| are ready on the socket, up to |timeout_ms|; Unavailable on
  // time-out or stop, IoError when the socket fails.
  [[nodiscard]] base::Status WaitFor(short events, int timeout_ms) const;
  // Sleeps |ms| milliseconds; Unavailable when the service stops first.
  [[nodiscard]] base::Status Pause(int ms) const;
  ssize_t WriteShaped(const char* ptr, std::size_t size);
  // One receive or send without waiting, through TLS once it is spoken: the count, 0
  // when the client closed, -1 with errno set (EAGAIN: wait and try again).
  ssize_t ReceiveSome(char* buffer, std::size_t size);
  ssize_t SendSome(const char* data, std::size_t size);
  // Bytes TLS has already decrypted, which no poll sees.
  bool Pending() const { return tls_ && SSL_pending(tls_.get()) > 0; }

  base::UniqueFd socket_;
  net::SslConnection tls_;  // goes before the socket it speaks on
  const std::atomic<bool>& stopping_;
  std::string buffer_;
  std::size_t buffer_start_ = 0;

  std::optional<FaultRule> shape_;
  bool in_head_ = true;
  std::string shaped_head_;
  std::size_t body_written_ = 0;
};

}  // namespace vendor

#endif  // LUMORA_TOOLS_VENDOR_CONNECTION_H_
