// Runs the built lumora-vendor for tests: a copy of the program in a temporary folder,
// started with a data folder of the test's, read for the port it took and stopped with
// SIGTERM; and plain socket exchanges with it, the request bytes written as given.
#ifndef LUMORA_TESTS_SUPPORT_VENDOR_PROCESS_H_
#define LUMORA_TESTS_SUPPORT_VENDOR_PROCESS_H_

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

// The program copied into a temporary folder of its own, once per test process.
const std::string& VendorProgram();

// A finished run of the program.
struct VendorRun {
  int exit_code = -1;  // 128 + signal when killed
  std::string out;
  std::string err;
};

// Runs the program with |args| to its end (killed after a generous bound, which fails
// the test).
VendorRun RunVendor(const std::vector<std::string>& args);

// A running service.
class VendorProcess {
 public:
  // Starts the program with "--port 0" and |args|; the test fails unless it prints its
  // port.
  explicit VendorProcess(const std::vector<std::string>& args);
  ~VendorProcess();
  VendorProcess(const VendorProcess&) = delete;
  VendorProcess& operator=(const VendorProcess&) = delete;

  int port() const { return port_; }
  // Sends |signal| and waits for the program's end; returns its exit code (128 + signal
  // when killed by it).
  int Stop(int signal_number = 15);
  // Standard error so far (complete once stopped).
  std::string Errors() const;

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  std::string err_path_;
};

struct HttpReply {
  std::string raw;  // every byte received until the server closed
  int status = 0;
  std::string head;                                 // status line and header lines
  std::multimap<std::string, std::string> headers;  // names in lower case
  std::string body;
  bool closed = false;  // the server closed the connection (rather than the bound ran out)

  bool Has(const std::string& name) const { return headers.count(name) > 0; }
  std::string Header(const std::string& name) const;
};

// Parses |raw| (status line, headers, the rest as body).
HttpReply ParseReply(std::string raw, bool closed);

// A connection to 127.0.0.1:|port|.
class Client {
 public:
  explicit Client(int port);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool Send(const std::string& bytes);
  // Reads until the server closes (or nothing comes for |quiet_ms|, a safety bound).
  std::string ReadToEnd(bool* closed, int quiet_ms = 20000);
  // Reads until |bytes| has at least |size| bytes; false when the server closed first.
  bool ReadAtLeast(std::string* bytes, std::size_t size);
  // Reads one answer with a Content-Length body (for keep-alive exchanges).
  HttpReply ReadOne();
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// Sends |request| on a new connection and reads until the server closes it.
HttpReply Exchange(int port, const std::string& request);

// "GET TARGET HTTP/1.0\r\n\r\n", the way the client asks.
std::string Get10(const std::string& target);

// Lower-case hex MD5 of |bytes|.
std::string Md5(const std::string& bytes);

#endif  // LUMORA_TESTS_SUPPORT_VENDOR_PROCESS_H_
