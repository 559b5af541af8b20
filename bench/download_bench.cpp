// A 1 GiB download on loopback: one CInetFile against the command-line client
// (`curl -s -o FILE URL`) fetching the same URL from the same server, in turn, in one
// run, from an nginx that the benchmark starts itself (unprivileged, a configuration of
// its own on a free loopback port; skipped with a message when nginx is not installed)
// and from lumora-vendor. Each repetition times both and reports ours against curl's
// as ratios: throughput (higher is better) and CPU time (user + system; lower is
// better). Ours is measured with getrusage of this process around the transfer, which
// includes the program's main loop on which every progress message is handled; curl's
// with wait4. Each download starts on pages of /dev/shm that were written a moment
// before (WarmPages), and who goes first alternates. The same from nginx to /dev/null
// (nginx_devnull) measures the transfer without the writes' page costs, which swing
// most from run to run. And the same from nginx over https (nginx_https: TLS on both
// sides, with a certificate the benchmark makes with the openssl program; curl is given
// it with --cacert, ours through SSL_CERT_FILE).
//
// Then a resumed download: 256 MiB from nginx by a resumable CInetFile in a child
// process, SIGKILLed once half the file is in its partial file, then resumed by a new
// transfer of this process to its end. Reported: the bytes the server sent to the
// resumed transfer, all its requests together (from nginx's access log), as a share of
// the file (fetched_share: about 0.5 when it continues, 1.0 or more when it starts
// again); what the killed one had written (kept_share) and what the server had sent it
// (killed_sent_share: also the bytes in flight when it died); the resumed transfer's
// requests. The result is compared byte for byte with the file served, whose bytes
// differ from place to place, so that bytes put at the wrong offset are seen.
//
// The 1 GiB file served is sparse (its bytes come from the page cache, not the disk);
// the downloads go to /dev/shm when it is there, so that neither side waits for a disk.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "net/inet_file.h"
#include "net/loop_notify.h"
#include "net/partial_file.h"
#include "os/main_loop.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kFileSize = 1ull << 30;
constexpr std::uint64_t kResumeSize = 256ull << 20;
// Downloads that keep nothing write here.
constexpr const char* kNull = "/dev/null";

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }
double CpuSeconds(const rusage& u) { return Seconds(u.ru_utime) + Seconds(u.ru_stime); }

// Starts |argv| with its standard output on a pipe (read end in |out|) when |out| is
// set, else on /dev/null; its standard error is kept.
pid_t Spawn(const std::vector<std::string>& args, int* out) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  int fds[2] = {-1, -1};
  if (out != nullptr) {
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  if (out != nullptr) {
    close(fds[1]);
    *out = fds[0];
  }
  return pid;
}

std::string OutputFolder() {
  return fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path().string();
}

// Writes a little more than a download's bytes to a file in |folder| and removes it, so
// that the pages the next download writes were in use a moment ago. Without it the
// cost of a download's writes swings by a factor of two or three from one run to the
// next on a virtual machine whose host takes back memory the guest has left free.
void WarmPages(const std::string& folder) {
  const std::string path = folder + "/lumora-bench-warm.bin";
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const std::vector<char> block(1 << 20, 'w');
  for (std::uint64_t at = 0; at < kFileSize + (64u << 20); at += block.size())
    if (write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) break;
  close(fd);
  unlink(path.c_str());
}

struct Measure {
  double wall = 0, cpu = 0;
};

// |trust|: the certificate curl trusts for https (none for http).
Measure RunCurl(const std::string& url, const std::string& out, const std::string& trust = "") {
  const auto start = Clock::now();
  std::vector<std::string> args = {"curl", "-s", "-o", out, url};
  if (!trust.empty()) args.insert(args.end(), {"--cacert", trust});
  const pid_t pid = Spawn(args, nullptr);
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0 || (out != kNull && fs::file_size(out) != kFileSize)) {
    return {-1, -1};
  }
  return {std::chrono::duration<double>(Clock::now() - start).count(), CpuSeconds(usage)};
}

// The bytes of resume.bin from |offset| on, |size| of them (|offset| a multiple of 8):
// each 8-byte word holds its own offset, so that no two places hold the same bytes.
void ResumeBytes(std::uint64_t offset, char* data, std::size_t size) {
  for (std::size_t i = 0; i < size; i += 8) {
    const std::uint64_t word = offset + i;
    std::memcpy(data + i, &word, std::min<std::size_t>(8, size - i));
  }
}

// A new folder with the files served: Storage/big.bin (1 GiB, sparse) and
// Storage/resume.bin (256 MiB of ResumeBytes).
std::string MakeRoot() {
  std::string pattern = (fs::temp_directory_path() / "lumora-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  fs::create_directories(pattern + "/Storage");
  const int big = open((pattern + "/Storage/big.bin").c_str(), O_WRONLY | O_CREAT, 0644);
  if (big < 0 || ftruncate(big, static_cast<off_t>(kFileSize)) != 0) std::abort();
  close(big);
  std::ofstream resume(pattern + "/Storage/resume.bin", std::ios::binary);
  std::vector<char> block(1 << 20);
  for (std::uint64_t at = 0; at < kResumeSize; at += block.size()) {
    ResumeBytes(at, block.data(), block.size());
    resume.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
  if (!resume.flush()) std::abort();
  return pattern;
}

// A loopback port that nobody listened on a moment ago.
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
    port = ntohs(address.sin_port);
  close(fd);
  return port;
}

// A server on loopback serving MakeRoot()'s folder: lumora-vendor, or nginx.
class Server {
 public:
  enum Kind { kVendor, kNginx, kNginxTls };
  explicit Server(Kind kind) : root_(MakeRoot()) {
    if (kind == kNginxTls) {
      // A certificate of its own for 127.0.0.1, which is its own trust anchor.
      cert_ = root_ + "/cert.pem";
      const pid_t made =
          Spawn({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                 "-nodes", "-keyout", root_ + "/key.pem", "-out", cert_, "-subj", "/CN=127.0.0.1",
                 "-addext", "subjectAltName=IP:127.0.0.1", "-days", "2"},
                nullptr);
      int status = 0;
      if (made < 0 || waitpid(made, &status, 0) != made || !WIFEXITED(status) ||
          WEXITSTATUS(status) != 0) {
        error_ = "openssl did not make a certificate";
        return;
      }
    }
    if (kind == kVendor) {
      int out = -1;
      pid_ = Spawn({LUMORA_VENDOR_BINARY, "--root", root_, "--port", "0"}, &out);
      char line[64] = {};
      FILE* stream = pid_ > 0 ? fdopen(out, "r") : nullptr;
      if (stream == nullptr || fgets(line, sizeof line, stream) == nullptr ||
          std::sscanf(line, "port %d", &port_) != 1) {
        std::fprintf(stderr, "lumora-vendor did not start\n");
        std::abort();
      }
      fclose(stream);
    } else {
      const std::string nginx = FindNginx();
      if (nginx.empty()) {
        error_ = "nginx is not installed (scripts/setup installs it)";
        return;
      }
      port_ = FreePort();
      // One process of the user's own, in the foreground, everything below root_.
      std::ofstream(root_ + "/nginx.conf")
          << "daemon off;\nmaster_process off;\nworker_processes 1;\npid " << root_
          << "/nginx.pid;\nerror_log " << root_ << "/error.log;\n"
          << "events { worker_connections 64; }\n"
          << "http {\n  log_format sent '$body_bytes_sent $status';\n  access_log " << AccessLog()
          << " sent;\n  sendfile on;\n  types { }\n  default_type application/octet-stream;\n"
          << "  client_body_temp_path " << root_ << "/tmp;\n  proxy_temp_path " << root_
          << "/tmp;\n  fastcgi_temp_path " << root_ << "/tmp;\n  uwsgi_temp_path " << root_
          << "/tmp;\n  scgi_temp_path " << root_
          << "/tmp;\n  server {\n    listen 127.0.0.1:" << port_ << (cert_.empty() ? "" : " ssl")
          << ";\n    root " << root_ << ";\n"
          << (cert_.empty() ? std::string()
                            : "    ssl_certificate " + cert_ + ";\n    ssl_certificate_key " +
                                  root_ + "/key.pem;\n")
          << "  }\n}\n";
      pid_ = Spawn({nginx, "-e", root_ + "/error.log", "-p", root_, "-c", root_ + "/nginx.conf"},
                   nullptr);
      // Ready once it answers.
      const auto started = Clock::now();
      while (!Answers() && Clock::now() - started < std::chrono::seconds(10))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (!Answers()) {
        error_ = "nginx did not start (see " + root_ + "/error.log)";
        return;
      }
    }
    // One download first, not counted: the server and the page cache warm up.
    const std::string warmup = OutputFolder() + "/lumora-bench-warmup.bin";
    // Warm-up: its figures are dropped.
    (void)RunCurl(Url(), warmup, cert_);
    fs::remove(warmup);
  }
  ~Server() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (error_.empty() || pid_ <= 0) fs::remove_all(root_);
  }
  // Why the server cannot be used; empty when it can.
  const std::string& error() const { return error_; }
  std::string Url(const std::string& name = "big.bin") const {
    return (cert_.empty() ? "http" : "https") + std::string("://127.0.0.1:") +
           std::to_string(port_) + "/Storage/" + name;
  }
  // The certificate of an https server (empty for http).
  const std::string& cert() const { return cert_; }
  // nginx: the body bytes sent and the status of each request so far, one a line.
  std::string AccessLog() const { return root_ + "/access.log"; }
  // The file served as |name|.
  std::string Served(const std::string& name) const { return root_ + "/Storage/" + name; }

 private:
  static std::string FindNginx() {
    for (const char* path : {"/usr/sbin/nginx", "/usr/local/sbin/nginx", "/usr/bin/nginx"})
      if (access(path, X_OK) == 0) return path;
    return {};
  }
  bool Answers() const {
    std::vector<std::string> args = {"curl", "-s", "-f", "-o", "/dev/null", "-r", "0-0", Url()};
    if (!cert_.empty()) args.insert(args.end(), {"--cacert", cert_});
    const pid_t pid = Spawn(args, nullptr);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
  }

  std::string root_;
  std::string error_;
  std::string cert_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// The owner is the program's own main loop on this thread: the messages reach it as
// they reach the update window, and the end message quits it.
Measure RunOurs(const std::string& url, const std::string& out, std::uint64_t* messages) {
  os::MainLoop loop;
  std::uint64_t sum = 0, count = 0;
  int result = -1;
  net::CInetFile transfer;
  transfer.url = url;
  transfer.kind = net::CInetFile::kServerList;  // writes |out| itself
  transfer.local_path = out;
  transfer.notify = net::NotifyOnLoop(
      loop, [&](net::TransferMessage message, int, std::uint32_t value, std::uint64_t) {
        if (message == net::TransferMessage::kProgress) {
          sum += value;
          ++count;
        } else {
          result = static_cast<int>(value);
          loop.Quit(0);
        }
      });
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  const auto start = Clock::now();
  if (!transfer.StartTransfer()) return {-1, -1};
  loop.Run();
  transfer.Wait();
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  getrusage(RUSAGE_SELF, &after);
  *messages = count;
  if (result != 0 || sum != kFileSize || (out != kNull && fs::file_size(out) != kFileSize))
    return {-1, -1};
  return {wall, CpuSeconds(after) - CpuSeconds(before)};
}

// Each server is started the first time it is asked for.
Server& ServerOf(Server::Kind kind) {
  if (kind == Server::kNginxTls) {
    static Server nginx_tls(Server::kNginxTls);
    return nginx_tls;
  }
  if (kind == Server::kNginx) {
    static Server nginx(Server::kNginx);
    return nginx;
  }
  static Server vendor(Server::kVendor);
  return vendor;
}

// |to_null|: both write to /dev/null, which leaves out the cost of filling pages.
void BM_Download1GiB(benchmark::State& state, Server::Kind kind, bool to_null) {
  Server& server = ServerOf(kind);
  if (!server.error().empty()) {
    state.SkipWithError(server.error().c_str());
    return;
  }
  // Ours trusts the https server's certificate the standard way.
  if (!server.cert().empty()) setenv("SSL_CERT_FILE", server.cert().c_str(), 1);
  const std::string ours_out = to_null ? kNull : OutputFolder() + "/lumora-bench-ours.bin";
  const std::string curl_out = to_null ? kNull : OutputFolder() + "/lumora-bench-curl.bin";
  static int round = 0;
  for (auto _ : state) {
    Measure ours, curl;
    std::uint64_t messages = 0;
    // Who goes first alternates from one repetition to the next; each starts on warm
    // pages.
    const auto run_curl = [&] {
      if (!to_null) WarmPages(OutputFolder());
      curl = RunCurl(server.Url(), curl_out, server.cert());
      if (!to_null) fs::remove(curl_out);
    };
    const auto run_ours = [&] {
      if (!to_null) WarmPages(OutputFolder());
      ours = RunOurs(server.Url(), ours_out, &messages);
      if (!to_null) fs::remove(ours_out);
    };
    if (round++ % 2 == 0) {
      run_curl();
      run_ours();
    } else {
      run_ours();
      run_curl();
    }
    if (ours.wall <= 0 || curl.wall <= 0) {
      state.SkipWithError("a download failed");
      break;
    }
    state.SetIterationTime(ours.wall);
    const double mib = static_cast<double>(kFileSize) / (1 << 20);
    state.counters["ours_MiBps"] = mib / ours.wall;
    state.counters["curl_MiBps"] = mib / curl.wall;
    state.counters["ours_cpu_s"] = ours.cpu;
    state.counters["curl_cpu_s"] = curl.cpu;
    state.counters["throughput_x"] = curl.wall / ours.wall;
    state.counters["cpu_x"] = ours.cpu / curl.cpu;
    state.counters["messages"] = static_cast<double>(messages);
  }
}
BENCHMARK_CAPTURE(BM_Download1GiB, nginx, Server::kNginx, false)
    ->Iterations(1)
    ->Repetitions(9)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Download1GiB, vendor, Server::kVendor, false)
    ->Iterations(1)
    ->Repetitions(9)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Download1GiB, nginx_https, Server::kNginxTls, false)
    ->Iterations(1)
    ->Repetitions(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Download1GiB, nginx_devnull, Server::kNginx, true)
    ->Iterations(1)
    ->Repetitions(9)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// A request as nginx's access log has it.
struct Logged {
  std::uint64_t sent = 0;
  int status = 0;
};

// The requests of nginx's access log once it holds at least |count| and no more have
// come for 200 ms (nginx writes a line when it is done with a request, a moment after
// its client got the last byte or went away). Fewer than |count| after 10 s: a failure.
std::vector<Logged> SettledLog(const std::string& log, std::size_t count) {
  const auto started = Clock::now();
  std::vector<Logged> last;
  auto changed = Clock::now();
  for (;;) {
    std::ifstream in(log);
    std::vector<Logged> now;
    for (Logged r; in >> r.sent >> r.status;) now.push_back(r);
    if (now.size() != last.size()) changed = Clock::now();
    last = std::move(now);
    if (last.size() >= count && Clock::now() - changed >= std::chrono::milliseconds(200))
      return last;
    if (Clock::now() - started > std::chrono::seconds(10)) return last;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::uint64_t SentFrom(const std::vector<Logged>& log, std::size_t first) {
  std::uint64_t sum = 0;
  for (std::size_t i = first; i < log.size(); ++i) sum += log[i].sent;
  return sum;
}

// Whether |path| holds exactly the |size| bytes of ResumeBytes.
bool SameAsServed(const std::string& path, std::uint64_t size) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> got(1 << 20), expected(1 << 20);
  std::uint64_t at = 0;
  while (in.read(got.data(), static_cast<std::streamsize>(got.size())) || in.gcount() > 0) {
    const auto n = static_cast<std::size_t>(in.gcount());
    ResumeBytes(at, expected.data(), n);
    if (std::memcmp(got.data(), expected.data(), n) != 0) return false;
    at += n;
  }
  return at == size;
}

void BM_Resume256MiB(benchmark::State& state) {
  Server& server = ServerOf(Server::kNginx);
  if (!server.error().empty()) {
    state.SkipWithError(server.error().c_str());
    return;
  }
  const std::string url = server.Url("resume.bin");
  const std::string target = OutputFolder() + "/lumora-bench-resume.bin";
  const std::string partial = net::PartialPathFor(target);
  for (auto _ : state) {
    if (!net::CInetFile::RemovePartial(target)) {
      state.SkipWithError("the partial file of an earlier run is still held");
      break;
    }
    const std::size_t before = SettledLog(server.AccessLog(), 0).size();
    // The first download, in a process of its own (this one runs no other thread now).
    const pid_t child = fork();
    if (child == 0) {
      net::CInetFile transfer;
      transfer.url = url;
      transfer.local_path = target;
      transfer.resume = true;
      if (transfer.StartTransfer()) transfer.Wait();
      _exit(0);
    }
    struct stat st {};
    const auto started = Clock::now();
    while (child > 0 &&
           (stat(partial.c_str(), &st) != 0 ||
            static_cast<std::uint64_t>(st.st_size) < kResumeSize / 2) &&
           Clock::now() - started < std::chrono::seconds(60))
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    if (child > 0) kill(child, SIGKILL);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFSIGNALED(status) ||
        static_cast<std::uint64_t>(st.st_size) < kResumeSize / 2) {
      state.SkipWithError("the first download was not killed at half");
      break;
    }
    // Its request is logged once nginx has seen it go.
    const std::vector<Logged> killed = SettledLog(server.AccessLog(), before + 1);
    const std::uint64_t kept = fs::file_size(partial);

    os::MainLoop loop;
    int result = -1;
    net::CInetFile transfer;
    transfer.url = url;
    transfer.local_path = target;
    transfer.resume = true;
    transfer.notify = net::NotifyOnLoop(
        loop, [&](net::TransferMessage message, int, std::uint32_t value, std::uint64_t) {
          if (message == net::TransferMessage::kEnd) {
            result = static_cast<int>(value);
            loop.Quit(0);
          }
        });
    const auto resumed_at = Clock::now();
    if (!transfer.StartTransfer()) {
      state.SkipWithError("the resumed download did not start");
      break;
    }
    loop.Run();
    transfer.Wait();
    const double wall = std::chrono::duration<double>(Clock::now() - resumed_at).count();
    const std::vector<Logged> all = SettledLog(server.AccessLog(), killed.size() + 1);
    const net::CInetFile::KeptBody body = transfer.TakeBody();
    const bool whole = result == 0 && SameAsServed(body.path, kResumeSize);
    fs::remove(body.path);
    if (killed.size() != before + 1 || all.size() <= killed.size()) {
      state.SkipWithError("nginx did not log the requests");
      break;
    }
    if (!whole) {
      state.SkipWithError("the resumed download did not end with the file served");
      break;
    }
    state.SetIterationTime(wall);
    const double size = static_cast<double>(kResumeSize);
    state.counters["kept_share"] = static_cast<double>(kept) / size;
    state.counters["killed_sent_share"] = static_cast<double>(SentFrom(killed, before)) / size;
    state.counters["fetched_share"] = static_cast<double>(SentFrom(all, killed.size())) / size;
    state.counters["requests"] = static_cast<double>(all.size() - killed.size());
    state.counters["first_status"] = all[killed.size()].status;
  }
}
BENCHMARK(BM_Resume256MiB)
    ->Iterations(1)
    ->Repetitions(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
