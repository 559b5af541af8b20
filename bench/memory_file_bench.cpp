// Reading a file through the memory-file interception against reading the same bytes
// from a file in the page cache. Prints both and the ratio (memory / page cache).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>

#include "storage/mem_file_mgr.h"

#include "ratio_reporter.h"

namespace {

const std::string kMemoryPath = "/nonexistent-lumora-bench/main12.swf";
std::string disk_path;
constexpr std::size_t kSize = 200238;  // the size of the shipped movie

void ReadWhole(benchmark::State& state, const std::string& path) {
  std::string buffer(kSize, '\0');
  for (auto _ : state) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    std::size_t n = std::fread(buffer.data(), 1, buffer.size(), f);
    std::fclose(f);
    if (n != kSize) state.SkipWithError("short read");
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

void BM_MemoryFile(benchmark::State& state) { ReadWhole(state, kMemoryPath); }
void BM_PageCacheFile(benchmark::State& state) { ReadWhole(state, disk_path); }
BENCHMARK(BM_MemoryFile);
BENCHMARK(BM_PageCacheFile);

}  // namespace

int main(int argc, char** argv) {
  std::string image(kSize, '\0');
  for (std::size_t i = 0; i < kSize; ++i) image[i] = static_cast<char>(i * 131 + 7);
  char dir[] = "/tmp/lumora-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  disk_path = std::string(dir) + "/main12.swf";
  std::ofstream(disk_path, std::ios::binary) << image;
  CMemFileMgr::InstallFileHooks();
  CMemFileMgr::AddMemoryFile(kMemoryPath, image.data(), kSize, false);

  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  if (reporter.times.count("BM_MemoryFile") && reporter.times.count("BM_PageCacheFile"))
    std::printf("memory file / page cache time ratio: %.2f (below 1 is faster)\n",
                reporter.times["BM_MemoryFile"] / reporter.times["BM_PageCacheFile"]);

  CMemFileMgr::RemoveAll();
  unlink(disk_path.c_str());
  rmdir(dir);
  return 0;
}
