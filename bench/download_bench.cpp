// A 1 GiB download on loopback: one CInetFile against the command-line client
// (`curl -s -o FILE URL`) fetching the same URL from the same lumora-vendor, in turn, in
// one run. Each repetition times both and reports ours against curl's as ratios:
// throughput (higher is better) and CPU time (user + system; lower is better). Ours is
// measured with getrusage of this process around the transfer, which includes the
// program's main loop on which every progress message is handled; curl's with wait4.
//
// The file served is sparse (its bytes come from the page cache, not the disk); the
// downloads go to /dev/shm when it is there, so that neither side waits for a disk.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "net/inet_file.h"
#include "net/loop_notify.h"
#include "platform/main_loop.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kFileSize = 1ull << 30;

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

// The vendor service on a free port, serving a folder with one sparse 1 GiB file.
class Server {
 public:
  Server() {
    std::string pattern = (fs::temp_directory_path() / "lumora-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    root_ = pattern;
    fs::create_directories(root_ + "/Storage");
    const int fd = open((root_ + "/Storage/big.bin").c_str(), O_WRONLY | O_CREAT, 0644);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(kFileSize)) != 0) std::abort();
    close(fd);
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
    // One download first, not counted: the service and the page cache warm up.
    const std::string warmup = OutputFolder() + "/lumora-bench-warmup.bin";
    (void)RunCurl(Url(), warmup);
    fs::remove(warmup);
  }
  ~Server() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    fs::remove_all(root_);
  }
  std::string Url() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/Storage/big.bin";
  }

 private:
  std::string root_;
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

void BM_Download1GiB(benchmark::State& state) {
  static Server server;
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
BENCHMARK(BM_Download1GiB)
    ->Iterations(1)
    ->Repetitions(7)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
