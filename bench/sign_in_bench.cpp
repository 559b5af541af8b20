// A sign-in over https against one over http: the request of "logon", sent as the main
// window sends it (net::Request), to two lumora-vendor services on loopback, one plain
// and one speaking https with a certificate of a CA the benchmark makes (with openssl, as
// the tests do), trusted through SSL_CERT_FILE. Every https sign-in makes a fresh TLS
// connection and handshake, which resumes the session of the one before. The two kinds
// alternate; it prints the mean time of each, how many handshakes resumed and their ratio
// (https / http; the goal is at most 1.5).
//
//   build/bench/sign_in_bench [ROUNDS]   (default 200)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../tests/support/temp_dir.h"
#include "../tests/support/test_ca.h"
#include "../tests/support/vendor_process.h"
#include "account/md5.h"
#include "net/reply_value.h"
#include "net/request.h"
#include "net/tls.h"

namespace {

using Clock = std::chrono::steady_clock;

// One sign-in at |url|; its time in seconds. Ends the program unless it succeeds.
double SignIn(net::Request& request, const std::string& url) {
  std::string sent, head, body;
  const auto start = Clock::now();
  request.Retrieve(false, url, &sent, &head, &body);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!request.last_failure().ok()) {
    std::fprintf(stderr, "sign_in_bench: %s\n", request.failure_text().c_str());
    std::exit(1);
  }
  if (net::ReplyValue(body, "Code") != "0") {
    std::fprintf(stderr, "sign_in_bench: refused at %s\n", url.c_str());
    std::exit(1);
  }
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 200;
  if (rounds <= 0) {
    std::fprintf(stderr, "usage: sign_in_bench [ROUNDS]\n");
    return 2;
  }
  TempDir root;
  root.Write("accounts.txt", "reader\tsecret\tU100\n");
  TestCa ca;
  const TestCa::Issued service = ca.Issue("service", "IP:127.0.0.1");
  setenv("SSL_CERT_FILE", ca.ca_file().c_str(), 1);
  VendorProcess plain({"--root", root.path()});
  VendorProcess tls({"--root", root.path(), "--tls-cert", service.cert, "--tls-key", service.key});
  const std::string query = std::string("/login4shelf.aspx?username=reader&password=") +
                            account::MD5String("QornellGateway19981124secret");
  const std::string http = "http://127.0.0.1:" + std::to_string(plain.port()) + query;
  const std::string https = "https://127.0.0.1:" + std::to_string(tls.port()) + query;

  net::Request request;
  // Warm-up: the times are dropped.
  for (int i = 0; i < 10; ++i) (void)(SignIn(request, http) + SignIn(request, https));
  double http_total = 0, https_total = 0;
  for (int i = 0; i < rounds; ++i) {
    if (i % 2 == 0) {
      http_total += SignIn(request, http);
      https_total += SignIn(request, https);
    } else {
      https_total += SignIn(request, https);
      http_total += SignIn(request, http);
    }
  }
  std::printf("sign-in over http:  %8.1f us\n", http_total / rounds * 1e6);
  std::printf("sign-in over https: %8.1f us\n", https_total / rounds * 1e6);
  std::printf("https handshakes resumed: %llu of %d\n",
              static_cast<unsigned long long>(net::ResumedHandshakes()), rounds + 10);
  std::printf("https / http: %.2f (goal: at most 1.5)\n", https_total / http_total);
  // The figures are printed; a service that ends badly changes none of them.
  (void)plain.Stop();
  (void)tls.Stop();
  return 0;
}
