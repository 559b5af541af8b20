// lumora-vendor --root DIR [--port N] [--bind ADDR] [--log FILE]
//               [--tls-cert FILE --tls-key FILE] [--fault PREFIX=SWITCH]...
//               [--opds-entries N] [--opds-page-size N] [--opds-book-max BYTES]
//
// The local vendor service: plays the vendor's web servers for the Lumora client (login,
// purchased list, catalogues, server list, updates and items) from a data folder, and
// serves OPDS catalogues of its own making.
#include <arpa/inet.h>
#include <netdb.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <thread>

#include "base/unique_file.h"
#include "options.h"
#include "text_file.h"
#include "vendor_server.h"

namespace {

struct FreeDeleter {
  void operator()(char* p) const { std::free(p); }
};

// Why binding |host|:|port| fails, asked of the system directly (the library only says
// that it failed).
std::string BindFailure(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  int status = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (status != 0) return gai_strerror(status);
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, ::freeaddrinfo);
  std::string reason = "cannot bind";
  for (addrinfo* a = addresses.get(); a != nullptr; a = a->ai_next) {
    base::UniqueFd fd(::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol));
    if (!fd.valid()) {
      reason = std::strerror(errno);
      continue;
    }
    int yes = 1;
    // As the server sets it; without it, bind only fails sooner.
    (void)::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(fd.get(), a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd.get(), 1) != 0) {
      reason = std::strerror(errno);
    }
  }
  return reason;
}

int Fail(const std::string& message, int code) {
  vendor::LogError(message);
  return code;
}

int Run(int argc, char** argv) {
  vendor::Options options;
  if (const base::Status parsed = vendor::ParseOptions(argc - 1, argv + 1, &options);
      !parsed.ok()) {
    return Fail(parsed.message() + "\nTry 'lumora-vendor --help' for more information.", 2);
  }
  if (options.help || options.version) {
    std::fputs((options.help ? vendor::UsageText() : vendor::VersionText()).c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  std::unique_ptr<char, FreeDeleter> root(::realpath(options.root.c_str(), nullptr));
  struct stat st;
  if (!root || ::stat(root.get(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return Fail("--root " + options.root + ": " +
                    (root ? std::string("not a folder") : std::string(std::strerror(errno))),
                1);
  }

  // SIGINT and SIGTERM are taken by a thread of their own, so that the server is stopped
  // outside any signal handler; every thread started from here on keeps them blocked.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  vendor::VendorServer server({root.get(), options.faults, options.opds});
  if (!options.tls_cert.empty()) {
    if (const base::Status tls = server.UseTls(options.tls_cert, options.tls_key); !tls.ok())
      return Fail(tls.message(), 1);
  }
  if (!options.log_path.empty()) {
    if (const base::Status opened = server.OpenLog(options.log_path); !opened.ok())
      return Fail(opened.message(), 1);
  }
  int port = options.port;
  bool bound = port == 0 ? (port = server.bind_to_any_port(options.bind)) > 0
                         : server.bind_to_port(options.bind, port);
  if (!bound) {
    return Fail("cannot listen on " + options.bind + ":" + std::to_string(options.port) + ": " +
                    BindFailure(options.bind, options.port),
                1);
  }
  std::printf("port %d\n", port);
  std::fflush(stdout);

  std::atomic<bool> listening_done{false};
  std::thread signal_waiter([&] {
    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    // A signal that comes before the server has started listening would find nothing to
    // stop: keep asking until listening has ended.
    while (!listening_done.load()) {
      server.Stop();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  bool ok = server.listen_after_bind();
  listening_done = true;
  pthread_kill(signal_waiter.native_handle(), SIGUSR1);
  signal_waiter.join();
  if (!ok) return Fail("the server stopped listening on its own", 1);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    return Fail(std::string("failed: ") + e.what(), 1);
  }
}
