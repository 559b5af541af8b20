// The local vendor service: an HTTP/1.1 server (over TLS with UseTls) that answers the client's
// login and purchase requests, serves the data folder's files and applies the fault switches.
#ifndef LUMORA_TOOLS_VENDOR_VENDOR_SERVER_H_
#define LUMORA_TOOLS_VENDOR_VENDOR_SERVER_H_

#include <httplib.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "faults.h"
#include "http_auth.h"
#include "net/tls.h"
#include "opds_feeds.h"
#include "query.h"
#include "request_log.h"

namespace vendor {

class Connection;

struct ServiceConfig {
  std::string root;               // canonical absolute name of the data folder
  std::vector<FaultRule> faults;  // from the command line, before those of faults.txt
  OpdsOptions opds;
};

class VendorServer : public httplib::Server {
 public:
  explicit VendorServer(ServiceConfig config);

  // Records request heads in |path| from now on.
  [[nodiscard]] base::Status OpenLog(const std::string& path);
  // Speaks https only from now on, with the certificate chain in the PEM file
  // |cert_path| and its key in |key_path|.
  [[nodiscard]] base::Status UseTls(const std::string& cert_path, const std::string& key_path);

  // Ends the service: open connections end at their next wait, listening stops.
  // Safe to call from any thread, before or while the server listens.
  void Stop();

 private:
  // Takes over each accepted connection from the library: reads the request heads
  // itself, records them and applies fault switches, and hands the rest to the library.
  bool process_and_close_socket(socket_t sock) override;
  void Serve(Connection& connection);
  void Route(const httplib::Request& request, httplib::Response& response);
  // The file |raw_path| names, whole or the range |request| asks, with its validators.
  void ServeFile(const std::string& raw_path, const httplib::Request& request,
                 httplib::Response& response);
  // The OPDS catalogues below "/opds" (and their copies behind Basic and Digest
  // authentication); false for a path outside them.
  bool ServeOpds(const Target& target, const httplib::Request& request,
                 httplib::Response& response);
  // The fault switch for a request |target|: the command line's first, then faults.txt's.
  std::optional<FaultRule> FaultFor(std::string_view target) const;

  ServiceConfig config_;
  RequestLog log_;
  net::SslContext tls_;  // none: plain http
  HttpAuth auth_;
  std::atomic<bool> stopping_{false};
  // The versions served of changing files (FaultKind::kChanging).
  std::atomic<std::uint64_t> versions_{0};
};

}  // namespace vendor

#endif  // LUMORA_TOOLS_VENDOR_VENDOR_SERVER_H_
