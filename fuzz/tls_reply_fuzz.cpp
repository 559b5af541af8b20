// A reply as it comes over https: a server of this process answers every request with the
// input, over TLS on loopback (a key and a certificate made once, with libcrypto, and
// trusted through SSL_CERT_FILE), and the raw request reads it. What it gives back must
// be what the plain path makes of the same bytes: the header block as received, the body
// converted.
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "fuzz_files.h"
#include "net/reply_body.h"
#include "net/reply_header.h"
#include "net/request.h"
#include "net/tls.h"

namespace {

struct Server {
  net::SslContext context;
  int listener = -1;
  int port = 0;
};

// The server's context with a certificate for 127.0.0.1 that signs itself, written to the
// scratch folder as the client's trust store; and a listening socket.
Server& TheServer() {
  static Server server = [] {
    Server s;
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    if (key == nullptr || cert == nullptr) fuzz::Fail("no key or certificate");
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 86400);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(cert), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(cert, X509_get_subject_name(cert));
    X509_set_pubkey(cert, key);
    X509V3_CTX v3;
    X509V3_set_ctx(&v3, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* names = X509V3_EXT_conf_nid(nullptr, &v3, NID_subject_alt_name, "IP:127.0.0.1");
    if (names == nullptr || X509_add_ext(cert, names, -1) != 1 ||
        X509_sign(cert, key, EVP_sha256()) == 0)
      fuzz::Fail("cannot make the certificate");
    X509_EXTENSION_free(names);
    const std::string path = fuzz::ScratchFolder() + "/trust.pem";
    FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr || PEM_write_X509(file, cert) != 1 || std::fclose(file) != 0)
      fuzz::Fail("cannot write the trust store");
    setenv("SSL_CERT_FILE", path.c_str(), 1);
    s.context.reset(SSL_CTX_new(TLS_server_method()));
    if (!s.context || SSL_CTX_use_certificate(s.context.get(), cert) != 1 ||
        SSL_CTX_use_PrivateKey(s.context.get(), key) != 1)
      fuzz::Fail("no server context");
    X509_free(cert);
    EVP_PKEY_free(key);
    s.listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(s.listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(s.listener, 4) != 0 ||
        getsockname(s.listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
      fuzz::Fail("cannot listen on loopback");
    s.port = ntohs(address.sin_port);
    return s;
  }();
  return server;
}

// Takes one connection: the handshake, the request head, then |reply| and the end.
void Answer(Server& server, const std::string& reply) {
  const int fd = accept4(server.listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  net::SslConnection ssl(SSL_new(server.context.get()));
  if (ssl && SSL_set_fd(ssl.get(), fd) == 1 && SSL_accept(ssl.get()) == 1) {
    std::string head;
    char buffer[1024];
    while (head.find("\r\n\r\n") == std::string::npos) {
      const int n = SSL_read(ssl.get(), buffer, sizeof buffer);
      if (n <= 0) break;
      head.append(buffer, static_cast<std::size_t>(n));
    }
    // Written in pieces of up to 1000 bytes, so that records end at many places.
    for (std::size_t at = 0; at < reply.size(); at += 1000) {
      const std::string piece = reply.substr(at, 1000);
      if (SSL_write(ssl.get(), piece.data(), static_cast<int>(piece.size())) <= 0) break;
    }
    SSL_shutdown(ssl.get());
  }
  close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string reply(reinterpret_cast<const char*>(data), size);
  Server& server = TheServer();
  std::thread answering([&] { Answer(server, reply); });
  net::Request request;
  request.set_timeout_ms(5000);
  std::string sent, head, body;
  const int result = request.SendRequest("https://127.0.0.1:" + std::to_string(server.port) + "/x",
                                         nullptr, nullptr, 0, &sent, &head, &body);
  answering.join();
  if (result != 0) fuzz::Fail("a reply over TLS failed: " + request.last_failure().message());
  // The plain path's reading of the same bytes.
  net::ReplyHeader header;
  std::size_t taken = 0;
  bool complete = false;
  while (taken < reply.size() && !complete) complete = header.Add(reply[taken++]);
  if (head != header.text()) fuzz::Fail("the header block differs from the plain path's");
  if (body != net::ReplyBodyToAnsi(reply.substr(taken)))
    fuzz::Fail("the body differs from the plain path's");
  return 0;
}
