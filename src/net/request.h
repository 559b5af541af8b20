// One HTTP/1.0 exchange on a socket of its own, over TLS when the URL says "https" (the
// server's certificate verified, its name checked against the host; nothing falls back
// to plain http): a GET or a POST is sent piece by piece, the reply's header block is read byte by
// byte and its body until the server closes the connection. The caller gets the request as sent,
// the header block as received and the body converted from UTF-8 to the code page.
//
// The user-interface thread waits for the exchange, so it never waits forever:
// connecting (with the TLS handshake) and then receiving the whole reply each have a
// time-out, and a reply is
// capped in size; both end the exchange as a failure, like a refused connection.
#ifndef LUMORA_NET_REQUEST_H_
#define LUMORA_NET_REQUEST_H_

#include <cstddef>
#include <string>

#include "base/status.h"

namespace net {

// Splits |url| into scheme, host, path and port. Scheme and host come upper-cased
// (scheme "HTTP" when the URL has no colon); the path keeps its letter case and its
// query; the port is 80 (443 for https) unless the host names one, and 0 when the one
// it names is no number from 1 to 65535.
void ParseUrl(const std::string& url, std::string* scheme, std::string* host, std::string* path,
              int* port);

class Request {
 public:
  static constexpr int kDefaultTimeoutMs = 30000;
  static constexpr std::size_t kMaxReplyBytes = 16u << 20;

  Request() = default;
  virtual ~Request() = default;
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;

  // One GET, or a form POST of |request_text| when |post| is set. On success
  // |request_text| becomes the request as sent, |header| the reply's header block and
  // |body| its converted body; on failure the three strings keep what they held and
  // last_failure() says why (the caller tells the user).
  void Retrieve(bool post, const std::string& url, std::string* request_text, std::string* header,
                std::string* body);

  // Sends one request: a POST when |body| is given (even empty), a GET otherwise, with
  // |extra_headers| (whole lines) when given. 0 on success with the three texts; 1 on
  // failure (another scheme than http or https, a control character or a space in the
  // path, no address, no connection, a certificate that does not verify, a failed
  // handshake, a time-out, a reply over the cap), its reason then in last_failure().
  [[nodiscard]] int SendRequest(const std::string& url, const char* extra_headers, const char* body,
                                long body_length, std::string* request_text, std::string* header,
                                std::string* reply_body);

  // How long connecting, and then receiving the whole reply, may take.
  void set_timeout_ms(int ms) { timeout_ms_ = ms; }
  // Why the last SendRequest or Retrieve failed (Ok when it did not); failure_text() is
  // its message, empty after a success.
  const base::Status& last_failure() const { return last_failure_; }
  const std::string& failure_text() const { return last_failure_.message(); }

 private:
  // One exchange as it went: the bytes sent, the header block and the body as received.
  struct Reply {
    std::string sent;
    std::string head;
    std::string raw_body;
  };
  // The exchange of SendRequest, which is its result code: Invalid for a URL it cannot
  // send (another scheme, a control character or a space in the path, no port), NotFound
  // for a host without an address, the failure to connect, Unavailable for a reply that
  // took too long, TooLarge for one over kMaxReplyBytes.
  [[nodiscard]] base::Status Exchange(const std::string& url, const char* extra_headers,
                                      const char* body, long body_length, Reply* reply) const;

  int timeout_ms_ = kDefaultTimeoutMs;
  base::Status last_failure_;
};

}  // namespace net

#endif  // LUMORA_NET_REQUEST_H_
