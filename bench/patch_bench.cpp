// A patch of a 64 MiB file of which 1 MiB changed (sixteen pieces of 64 KiB spread over
// it), against copying the whole file: the patch's size as a share of the file's, and
// the time to apply it (check the old file's digest, decode, write and flush the new
// file, check its digest) against a plain copy of the new file (read, write, flush).
// A whole file's install also checks the digest of what it copied, so the apply time is
// set against copy + digest as well. The files live in /dev/shm when it is there, so that neither
// side waits for a disk.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "base/files.h"
#include "ratio_reporter.h"
#include "update/file_digest.h"
#include "update/file_patch.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kFileSize = std::size_t{64} << 20;
constexpr std::size_t kPieces = 16;
constexpr std::size_t kPieceSize = std::size_t{64} << 10;

struct Files {
  std::string dir, old_file, new_file, patch, old_digest, new_digest;
  double make_seconds = 0;
};

Files* files = nullptr;

Files Prepare() {
  Files f;
  const fs::path base =
      fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
  f.dir = (base / ("patch_bench." + std::to_string(getpid()))).string();
  fs::create_directories(f.dir);
  f.old_file = f.dir + "/old.bin";
  f.new_file = f.dir + "/new.bin";
  f.patch = f.dir + "/new.bin.zst-patch";
  std::mt19937_64 random(7);
  std::string bytes(kFileSize, '\0');
  for (std::size_t i = 0; i + 8 <= bytes.size(); i += 8) {
    const std::uint64_t v = random();
    std::memcpy(&bytes[i], &v, 8);
  }
  if (!base::ReplaceFileContents(f.old_file, bytes).ok()) std::abort();
  for (std::size_t p = 0; p < kPieces; ++p) {
    const std::size_t at = p * (kFileSize / kPieces) + 12345;
    for (std::size_t i = 0; i < kPieceSize; ++i) bytes[at + i] = static_cast<char>(random());
  }
  if (!base::ReplaceFileContents(f.new_file, bytes).ok()) std::abort();
  const auto start = std::chrono::steady_clock::now();
  if (!update::MakeFilePatch(f.old_file, f.new_file, f.patch).ok()) std::abort();
  f.make_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!update::Sha256OfFile(f.old_file, &f.old_digest).ok() ||
      !update::Sha256OfFile(f.new_file, &f.new_digest).ok())
    std::abort();
  return f;
}

void BM_ApplyPatch(benchmark::State& state) {
  const std::string result = files->dir + "/patched.bin";
  for (auto _ : state) {
    if (!update::ApplyFilePatch(files->old_file, files->old_digest, files->patch, result,
                                files->new_digest)
             .ok())
      state.SkipWithError("the patch was not applied");
    state.PauseTiming();
    unlink(result.c_str());
    state.ResumeTiming();
  }
}

void BM_CopyFile(benchmark::State& state) {
  const std::string copy = files->dir + "/copy.bin";
  for (auto _ : state) {
    if (!base::CopyFileReplacing(files->new_file, copy).ok())
      state.SkipWithError("the copy failed");
    state.PauseTiming();
    unlink(copy.c_str());
    state.ResumeTiming();
  }
}

// What a whole file's install checks after its copy: its digest.
void BM_DigestOfFile(benchmark::State& state) {
  for (auto _ : state) {
    std::string digest;
    if (!update::Sha256OfFile(files->new_file, &digest).ok())
      state.SkipWithError("the file was not read");
    benchmark::DoNotOptimize(digest);
  }
}

BENCHMARK(BM_ApplyPatch)->MinTime(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyFile)->MinTime(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DigestOfFile)->MinTime(2)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Files prepared = Prepare();
  files = &prepared;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const double patch_size = static_cast<double>(fs::file_size(prepared.patch));
  const auto time = [&](const std::string& name) {
    for (const auto& [run, seconds] : reporter.times)
      if (run.rfind(name, 0) == 0) return seconds;
    return 0.0;
  };
  const double apply = time("BM_ApplyPatch"), copy = time("BM_CopyFile"),
               digest = time("BM_DigestOfFile");
  std::printf("\npatch size / file size (64 MiB, 1 MiB changed): %.4f (%.0f bytes)\n",
              patch_size / kFileSize, patch_size);
  std::printf("apply patch / copy file:                        %.2f\n",
              copy > 0 ? apply / copy : 0.0);
  std::printf("apply patch / (copy file + its digest):         %.2f\n",
              copy + digest > 0 ? apply / (copy + digest) : 0.0);
  std::printf("making the patch / copy file:                   %.2f (the publisher's side)\n",
              copy > 0 ? prepared.make_seconds * 1e3 / copy : 0.0);
  fs::remove_all(prepared.dir);
  return 0;
}
