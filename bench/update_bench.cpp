// Update runs of the update window in this process (the program's own update machinery
// on the headless face), against lumora-vendor on loopback, side by side in one run:
//
//   patch      a 64 MiB file of which 1 MiB changed (sixteen pieces of 64 KiB), installed
//              from a release published with `lumora-manifest --previous` (the patch
//              fetched and applied) against the same release published without it (the
//              whole file fetched). Reported: the bytes the vendor served for the run
//              (server list, manifest and file or patch) as a share of the file, and
//              the patched update's time over the whole file's.
//   first_run  the release a first start installs (tools/shelf/publish of the shelf's
//              content, about 145 files), signed and with every digest checked, against
//              the same release unsigned and without digests. Reported: update time
//              signed / unsigned, and the CPU time of this process (the main loop, where
//              the signature and the digests are checked, and the transfers' threads).
//
// Each repetition runs both sides, who goes first alternating; a run goes from the
// server list to the release in place ("更新完毕", checked). The data folders live in
// /dev/shm when it is there, so that neither side waits for a disk.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "update/auto_update_client_dlg.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kFileSize = std::size_t{64} << 20;
constexpr std::size_t kPieces = 16;
constexpr std::size_t kPieceSize = std::size_t{64} << 10;

std::string Scratch() {
  const fs::path base =
      fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
  std::string pattern = (base / "update_bench.XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  return pattern;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
void WriteAll(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// Runs |args| to its end, its standard output on |out| when given; false unless it
// ended with 0.
bool RunTool(const std::vector<std::string>& args, int out = -1) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (out >= 0) posix_spawn_file_actions_adddup2(&actions, out, 1);
  pid_t pid = -1;
  const bool started = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  return started && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

// lumora-vendor serving |root| on a free port, recording the requests.
class Vendor {
 public:
  explicit Vendor(const std::string& root) : log_(root + ".requests") {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) std::abort();
    std::vector<std::string> args = {
        LUMORA_VENDOR_BINARY, "--root", root, "--port", "0", "--log", log_};
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) std::abort();
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    FILE* stream = fdopen(fds[0], "r");
    char line[64] = {};
    if (stream == nullptr || fgets(line, sizeof line, stream) == nullptr ||
        std::sscanf(line, "port %d", &port_) != 1) {
      std::fprintf(stderr, "lumora-vendor did not start\n");
      std::abort();
    }
    fclose(stream);
  }
  ~Vendor() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    fs::remove(log_);
  }
  std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string Url(const std::string& path) const { return "http://" + Host() + path; }
  // The paths fetched since the last call.
  std::vector<std::string> TakeRequests() const {
    std::vector<std::string> paths;
    std::istringstream in(ReadAll(log_));
    for (std::string line; std::getline(in, line);)
      if (line.rfind("GET ", 0) == 0) paths.push_back(line.substr(4, line.find(' ', 4) - 4));
    std::ofstream(log_, std::ios::trunc);
    return paths;
  }

 private:
  std::string log_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// A program folder and a data home below |home|, as the program forms its places.
update::BaseFolders FoldersIn(const std::string& home, bool trusted_keys) {
  const std::string data = home + "/data/vellari";
  return {home + "/prog",
          data + "/windows",
          data + "/system",
          home + "/data",
          data + "/installed-versions.txt",
          data + "/download-folders.txt",
          data + "/public",
          data + "/release-journal.txt",
          {},
          trusted_keys ? home + "/prog/release-keys.pub" : std::string(),
          data + "/installed-release.txt"};
}

struct Measure {
  double wall = -1, cpu = -1;
};

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  const auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return s(u.ru_utime) + s(u.ru_stime);
}

// One update run of the update window from |server_list| with |folders|, to the end of
// its release; the wall and CPU time, or -1 when the release was not put in place.
Measure UpdateRun(const std::string& server_list, const update::BaseFolders& folders) {
  std::FILE* out = std::tmpfile();
  if (out == nullptr) return {};
  std::unique_ptr<platform::Platform> face =
      platform::CreateHeadlessPlatform(-1, out, platform::Rect{0, 0, 800, 600});
  Measure m;
  const double cpu = CpuSeconds();
  const auto start = Clock::now();
  {
    update::CAutoUpdateClientDlg client(
        {face->loop(), face->update_window(), face->dialogs(), face->shell()}, server_list, true,
        folders);
    if (!client.OnInitDialog()) return {};
    face->loop().SetTimer(1, 5, [&] {
      if (client.transfer_count() == 0) face->loop().Quit(0);
    });
    face->loop().Run();
  }
  m.wall = std::chrono::duration<double>(Clock::now() - start).count();
  m.cpu = CpuSeconds() - cpu;
  std::fflush(out);
  std::rewind(out);
  // The first check's timer may run a second check after the release is in place.
  bool done = false, failed = false;
  for (char line[4096]; std::fgets(line, sizeof line, out) != nullptr;) {
    done |= std::strstr(line, "更新完毕") != nullptr;
    failed |= std::strstr(line, "更新失败") != nullptr;
  }
  std::fclose(out);
  if (!done || failed) {
    std::fprintf(stderr, "the update did not end in place\n");
    return {};
  }
  return m;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// ---- a 64 MiB file of which 1 MiB changed, by patch and whole ----

struct PatchCase {
  ~PatchCase() {
    if (!root.empty()) fs::remove_all(root);
    if (!home.empty()) fs::remove_all(home);
  }
  std::string root, home, installed_copy;
  std::unique_ptr<Vendor> vendor;
};

bool patch_prepared = false;
std::vector<double> patch_time_ratios, patch_byte_shares, whole_byte_shares;

void PreparePatchCase(PatchCase* c) {
  c->root = Scratch();
  c->home = Scratch();
  c->vendor = std::make_unique<Vendor>(c->root);
  const std::string folder = "/vellari/public/big";
  std::mt19937_64 random(7);
  std::string bytes(kFileSize, '\0');
  for (std::size_t i = 0; i + 8 <= bytes.size(); i += 8) {
    const std::uint64_t v = random();
    std::memcpy(&bytes[i], &v, 8);
  }
  WriteAll(c->root + "/r1" + folder + "/big.bin", bytes);
  c->installed_copy = c->root + "/r1" + folder + "/big.bin";
  for (std::size_t p = 0; p < kPieces; ++p) {
    const std::size_t at = p * (kFileSize / kPieces) + 12345;
    for (std::size_t i = 0; i < kPieceSize; ++i) bytes[at + i] = static_cast<char>(random());
  }
  // The same new release twice: with patches from the first, and without.
  for (const char* release : {"patched", "whole"}) {
    const std::string file = c->root + "/" + release + folder + "/big.bin";
    WriteAll(file, bytes);
    fs::last_write_time(file, fs::file_time_type::clock::now() + std::chrono::hours(1));
    std::vector<std::string> args = {LUMORA_MANIFEST_BINARY, "--base-url",
                                     c->vendor->Url(std::string("/") + release), "--install-dir",
                                     "APPDATADIR"};
    if (std::strcmp(release, "patched") == 0)
      args.insert(args.end(), {"--previous", c->root + "/r1"});
    args.insert(args.end(), {c->root + "/" + release, c->root + "/" + release + ".xml"});
    if (!RunTool(args)) std::abort();
    WriteAll(c->root + "/" + release + ".txt",
             "main|" + c->vendor->Url(std::string("/") + release + ".xml") + "\r\n");
  }
}

// The first release installed (as an update run would leave it: older than the new one).
void InstallFirstRelease(const PatchCase& c) {
  fs::remove_all(c.home + "/data");
  const std::string target = c.home + "/data/vellari/public/big/big.bin";
  fs::create_directories(fs::path(target).parent_path());
  fs::copy_file(c.installed_copy, target);
  fs::create_directories(c.home + "/prog");
}

// Bytes the vendor served for the requests of the last run.
double ServedBytes(const PatchCase& c) {
  double bytes = 0;
  for (const std::string& path : c.vendor->TakeRequests()) {
    std::error_code ec;
    const auto size = fs::file_size(c.root + path, ec);
    if (!ec) bytes += static_cast<double>(size);
  }
  return bytes;
}

// Runs |run| for both sides (true, false), the side that goes first changing with
// |round|, so that neither always runs on a warmer machine.
template <typename Run>
void BothInTurn(int round, const Run& run) {
  const bool first = round % 2 == 0;
  run(first);
  run(!first);
}

void BM_Patch64MiB(benchmark::State& state) {
  static PatchCase c;
  if (!patch_prepared) {
    PreparePatchCase(&c);
    patch_prepared = true;
  }
  static int round = 0;
  for (auto _ : state) {
    Measure patched, whole;
    double patched_bytes = 0, whole_bytes = 0;
    const auto run = [&](bool patch) {
      InstallFirstRelease(c);
      // Only the requests of the timed run are counted.
      (void)c.vendor->TakeRequests();
      const Measure m =
          UpdateRun(c.vendor->Url(patch ? "/patched.txt" : "/whole.txt"), FoldersIn(c.home, false));
      (patch ? patched : whole) = m;
      (patch ? patched_bytes : whole_bytes) = ServedBytes(c);
    };
    BothInTurn(round++, run);
    if (patched.wall <= 0 || whole.wall <= 0) {
      state.SkipWithError("an update failed");
      break;
    }
    state.SetIterationTime(patched.wall);
    const double time_ratio = patched.wall / whole.wall;
    patch_time_ratios.push_back(time_ratio);
    patch_byte_shares.push_back(patched_bytes / kFileSize);
    whole_byte_shares.push_back(whole_bytes / kFileSize);
    state.counters["patched_s"] = patched.wall;
    state.counters["whole_s"] = whole.wall;
    state.counters["time_x"] = time_ratio;
    state.counters["patched_cpu_s"] = patched.cpu;
    state.counters["whole_cpu_s"] = whole.cpu;
    state.counters["bytes_share"] = patched_bytes / kFileSize;
  }
}

// ---- the first-run release, signed with digests and unsigned without ----

std::vector<double> first_run_time_ratios, first_run_cpu_ratios;

struct FirstRunCase {
  ~FirstRunCase() {
    for (const std::string* dir : {&root, &home, &keys})
      if (!dir->empty()) fs::remove_all(*dir);
  }
  std::string root, home, keys;
  std::unique_ptr<Vendor> vendor;
  std::size_t files = 0;
};

void PrepareFirstRunCase(FirstRunCase* c) {
  c->root = Scratch();
  c->home = Scratch();
  c->keys = Scratch();
  c->vendor = std::make_unique<Vendor>(c->root);
  if (!RunTool({LUMORA_MANIFEST_BINARY, "--generate-key", c->keys + "/release.pub",
                c->keys + "/release.sec"}))
    std::abort();
  // As scripts/run publishes it: signed with the key, the program trusting it.
  if (!RunTool({LUMORA_SOURCE_DIR "/tools/shelf/publish", LUMORA_SHELF_DIR, c->root,
                c->vendor->Host(), LUMORA_MANIFEST_BINARY, c->keys + "/release.sec"}))
    std::abort();
  fs::create_directories(c->home + "/prog");
  fs::copy_file(c->keys + "/release.pub", c->home + "/prog/release-keys.pub");
  // The same release without its signature and its entries' digests.
  std::istringstream manifest(ReadAll(c->root + "/update/main.xml"));
  std::string plain;
  for (std::string line; std::getline(manifest, line);) {
    if (line.find("<SHA256>") != std::string::npos) continue;
    if (line.find("<File>") != std::string::npos) ++c->files;
    plain += line + "\n";
  }
  WriteAll(c->root + "/update/plain.xml", plain);
  WriteAll(c->root + "/signed.txt", "main|" + c->vendor->Url("/update/main.xml") + "\r\n");
  WriteAll(c->root + "/plain.txt", "main|" + c->vendor->Url("/update/plain.xml") + "\r\n");
}

void BM_FirstRunRelease(benchmark::State& state) {
  static FirstRunCase c;
  static bool prepared = false;
  if (!prepared) {
    PrepareFirstRunCase(&c);
    prepared = true;
  }
  static int round = 0;
  for (auto _ : state) {
    Measure signed_run, plain_run;
    const auto run = [&](bool sign) {
      fs::remove_all(c.home + "/data");
      (sign ? signed_run : plain_run) =
          UpdateRun(c.vendor->Url(sign ? "/signed.txt" : "/plain.txt"), FoldersIn(c.home, sign));
    };
    BothInTurn(round++, run);
    if (signed_run.wall <= 0 || plain_run.wall <= 0) {
      state.SkipWithError("an update failed");
      break;
    }
    state.SetIterationTime(signed_run.wall);
    first_run_time_ratios.push_back(signed_run.wall / plain_run.wall);
    first_run_cpu_ratios.push_back(signed_run.cpu / plain_run.cpu);
    state.counters["files"] = static_cast<double>(c.files);
    state.counters["signed_s"] = signed_run.wall;
    state.counters["plain_s"] = plain_run.wall;
    state.counters["time_x"] = signed_run.wall / plain_run.wall;
    state.counters["signed_cpu_s"] = signed_run.cpu;
    state.counters["plain_cpu_s"] = plain_run.cpu;
    state.counters["cpu_x"] = signed_run.cpu / plain_run.cpu;
  }
}

BENCHMARK(BM_Patch64MiB)
    ->Iterations(1)
    ->Repetitions(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstRunRelease)
    ->Iterations(1)
    ->Repetitions(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::printf("\nmedians of the repetitions\n");
  if (!patch_time_ratios.empty()) {
    std::printf("patch 64 MiB, bytes fetched / file size:      %.4f (whole file: %.4f)\n",
                Median(patch_byte_shares), Median(whole_byte_shares));
    std::printf("patch 64 MiB, update time patched / whole:    %.2f\n", Median(patch_time_ratios));
  }
  if (!first_run_time_ratios.empty()) {
    std::printf("first-run release, update time signed / unsigned: %.3f\n",
                Median(first_run_time_ratios));
    std::printf("first-run release, CPU time signed / unsigned:    %.3f\n",
                Median(first_run_cpu_ratios));
  }
  return 0;
}
