// A 1 GiB download on loopback: one CInetFile against the command-line client
// (`curl -s -o FILE URL`) fetching the same URL from the same server, in turn, in one
// run, from an nginx that the benchmark starts itself (unprivileged, a configuration of
// its own on a free loopback port; skipped with a message when nginx is not installed)
// and from lumora-vendor. Each repetition times both and reports ours against curl's
// as ratios: throughput (higher is better) and CPU time (user + system; lower is
// better). Ours is measured with getrusage of this process around the transfer, which
// includes the program's main loop on which every progress message is handled; curl's
// with wait4.
//
// Then a resumed download: 256 MiB from nginx by a resumable CInetFile in a child
// process, SIGKILLed once half the file is in its partial file, then resumed by a new
// transfer to its end; the bytes the server sent for both (from nginx's access log) as
// a share of the file, and the result checked against the file.
//
// The files served are sparse (their bytes come from the page cache, not the disk); the
// downloads go to /dev/shm when it is there, so that neither side waits for a disk.
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

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "net/inet_file.h"
#include "net/loop_notify.h"
#include "platform/main_loop.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kFileSize = 1ull << 30;
constexpr std::uint64_t kResumeSize = 256ull << 20;

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

struct Measure {
  double wall = 0, cpu = 0;
};

Measure RunCurl(const std::string& url, const std::string& out) {
  const auto start = Clock::now();
  const pid_t pid = Spawn({"curl", "-s", "-o", out, url}, nullptr);
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0 || fs::file_size(out) != kFileSize) {
    return {-1, -1};
  }
  return {std::chrono::duration<double>(Clock::now() - start).count(), CpuSeconds(usage)};
}

// A new folder with the sparse files served: Storage/big.bin (1 GiB) and
// Storage/resume.bin (256 MiB).
std::string MakeRoot() {
  std::string pattern = (fs::temp_directory_path() / "lumora-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  fs::create_directories(pattern + "/Storage");
  for (const auto& [name, size] : {std::pair{"big.bin", kFileSize}, {"resume.bin", kResumeSize}}) {
    const int fd = open((pattern + "/Storage/" + name).c_str(), O_WRONLY | O_CREAT, 0644);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) std::abort();
    close(fd);
  }
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
  enum Kind { kVendor, kNginx };
  explicit Server(Kind kind) : root_(MakeRoot()) {
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
          << "http {\n  log_format sent '$body_bytes_sent';\n  access_log " << AccessLog()
          << " sent;\n  sendfile on;\n  types { }\n  default_type application/octet-stream;\n"
          << "  client_body_temp_path " << root_ << "/tmp;\n  proxy_temp_path " << root_
          << "/tmp;\n  fastcgi_temp_path " << root_ << "/tmp;\n  uwsgi_temp_path " << root_
          << "/tmp;\n  scgi_temp_path " << root_
          << "/tmp;\n  server {\n    listen 127.0.0.1:" << port_ << ";\n    root " << root_
          << ";\n  }\n}\n";
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
    (void)RunCurl(Url(), warmup);
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
    return "http://127.0.0.1:" + std::to_string(port_) + "/Storage/" + name;
  }
  // nginx: the body bytes sent for each request so far, one a line.
  std::string AccessLog() const { return root_ + "/access.log"; }

 private:
  static std::string FindNginx() {
    for (const char* path : {"/usr/sbin/nginx", "/usr/local/sbin/nginx", "/usr/bin/nginx"})
      if (access(path, X_OK) == 0) return path;
    return {};
  }
  bool Answers() const {
    const pid_t pid = Spawn({"curl", "-s", "-f", "-o", "/dev/null", "-r", "0-0", Url()}, nullptr);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
  }

  std::string root_;
  std::string error_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// The owner is the program's own main loop on this thread: the messages reach it as
// they reach the update window, and the end message quits it.
Measure RunOurs(const std::string& url, const std::string& out, std::uint64_t* messages) {
  platform::MainLoop loop;
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
  if (result != 0 || sum != kFileSize || fs::file_size(out) != kFileSize) return {-1, -1};
  return {wall, CpuSeconds(after) - CpuSeconds(before)};
}

Server& ServerOf(Server::Kind kind) {
  static Server nginx(Server::kNginx);
  static Server vendor(Server::kVendor);
  return kind == Server::kNginx ? nginx : vendor;
}

void BM_Download1GiB(benchmark::State& state, Server::Kind kind) {
  Server& server = ServerOf(kind);
  if (!server.error().empty()) {
    state.SkipWithError(server.error().c_str());
    return;
  }
  const std::string ours_out = OutputFolder() + "/lumora-bench-ours.bin";
  const std::string curl_out = OutputFolder() + "/lumora-bench-curl.bin";
  static int round = 0;
  for (auto _ : state) {
    Measure ours, curl;
    std::uint64_t messages = 0;
    // Who goes first alternates from one repetition to the next.
    if (round++ % 2 == 0) {
      curl = RunCurl(server.Url(), curl_out);
      fs::remove(curl_out);
      ours = RunOurs(server.Url(), ours_out, &messages);
      fs::remove(ours_out);
    } else {
      ours = RunOurs(server.Url(), ours_out, &messages);
      fs::remove(ours_out);
      curl = RunCurl(server.Url(), curl_out);
      fs::remove(curl_out);
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
BENCHMARK_CAPTURE(BM_Download1GiB, nginx, Server::kNginx)
    ->Iterations(1)
    ->Repetitions(7)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Download1GiB, vendor, Server::kVendor)
    ->Iterations(1)
    ->Repetitions(7)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The sum of the numbers in nginx's access log, once it holds |lines| lines (nginx
// writes a line when it is done with a request, a moment after its client is gone).
std::uint64_t BytesSent(const std::string& log, std::size_t lines) {
  const auto started = Clock::now();
  for (;;) {
    std::ifstream in(log);
    std::vector<std::uint64_t> numbers;
    for (std::uint64_t n = 0; in >> n;) numbers.push_back(n);
    if (numbers.size() >= lines || Clock::now() - started > std::chrono::seconds(10)) {
      std::uint64_t sum = 0;
      for (std::uint64_t n : numbers) sum += n;
      return numbers.size() >= lines ? sum : 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// The whole of |path| is zeros, and |size| bytes long.
bool AllZeros(const std::string& path, std::uint64_t size) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> buffer(1 << 20);
  std::uint64_t total = 0;
  while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
    for (std::streamsize i = 0; i < in.gcount(); ++i)
      if (buffer[static_cast<std::size_t>(i)] != 0) return false;
    total += static_cast<std::uint64_t>(in.gcount());
  }
  return total == size;
}

void BM_Resume256MiB(benchmark::State& state) {
  Server& server = ServerOf(Server::kNginx);
  if (!server.error().empty()) {
    state.SkipWithError(server.error().c_str());
    return;
  }
  const std::string target = OutputFolder() + "/lumora-bench-resume.bin";
  const std::string partial = net::CInetFile::PartialPathOf(target);
  for (auto _ : state) {
    (void)net::CInetFile::RemovePartial(target);
    const std::size_t logged = [&] {
      std::ifstream in(server.AccessLog());
      std::size_t n = 0;
      for (std::string line; std::getline(in, line);) ++n;
      return n;
    }();
    const std::uint64_t before = BytesSent(server.AccessLog(), logged);
    const auto start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
      net::CInetFile transfer;
      transfer.url = server.Url("resume.bin");
      transfer.local_path = target;
      transfer.resume = true;
      if (transfer.StartTransfer()) transfer.Wait();
      _exit(0);
    }
    struct stat st {};
    while (child > 0 && (stat(partial.c_str(), &st) != 0 ||
                         static_cast<std::uint64_t>(st.st_size) < kResumeSize / 2))
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    if (child > 0) kill(child, SIGKILL);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFSIGNALED(status)) {
      state.SkipWithError("the first download was not killed");
      break;
    }
    const std::uint64_t kept = fs::file_size(partial);
    platform::MainLoop loop;
    int result = -1;
    net::CInetFile transfer;
    transfer.url = server.Url("resume.bin");
    transfer.local_path = target;
    transfer.resume = true;
    transfer.notify = net::NotifyOnLoop(
        loop, [&](net::TransferMessage message, int, std::uint32_t value, std::uint64_t) {
          if (message == net::TransferMessage::kEnd) {
            result = static_cast<int>(value);
            loop.Quit(0);
          }
        });
    if (!transfer.StartTransfer()) break;
    loop.Run();
    transfer.Wait();
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const std::uint64_t sent = BytesSent(server.AccessLog(), logged + 2) - before;
    const net::CInetFile::KeptBody body = transfer.TakeBody();
    const bool whole = result == 0 && AllZeros(body.path, kResumeSize);
    fs::remove(body.path);
    if (!whole || sent == 0) {
      state.SkipWithError("the resumed download did not end whole");
      break;
    }
    state.SetIterationTime(wall);
    state.counters["kept_share"] = static_cast<double>(kept) / kResumeSize;
    state.counters["fetched_share"] = static_cast<double>(sent) / kResumeSize;
  }
}
BENCHMARK(BM_Resume256MiB)
    ->Iterations(1)
    ->Repetitions(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
