// Reading a file through the memory-file interception against reading the same bytes
// from a file in the page cache, through each reader the program's components use:
// open+read, fopen+fread and std::ifstream, at 4 KB, 200 KB (the shipped movie) and
// 20 MB. Each run opens, reads the whole file into a page-aligned buffer and closes.
//
// The floor of the descriptor path is the same reader (open+read+close, or ifstream)
// on the same bytes in a file on tmpfs (/dev/shm): the same kind of shared-memory
// pages a memfd holds, reached by a plain path. Two more references: pread of the
// whole image on a memfd descriptor that is already open, and memcpy out of a
// populated mapping of it (what the program's own streams do).
//
// Runs are repeated and interleaved at random (unless other flags are given); the
// table at the end uses the medians: memory / page cache for each reader, and
// memory descriptor path / floor.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ratio_reporter.h"
#include "storage/mem_file_mgr.h"

namespace {

constexpr std::size_t kPage = 4096;
const std::vector<std::size_t> kSizes = {4096, 200238, 20u << 20};
const char* const kSizeNames[] = {"4KB", "200KB", "20MB"};

struct FreeDeleter {
  void operator()(char* p) const { std::free(p); }
};

// A buffer starting on a page boundary (a kernel copy into a buffer a few bytes past
// one is many times slower on some processors), touched once so no run takes its
// page faults.
std::unique_ptr<char, FreeDeleter> PageAlignedBuffer(std::size_t size) {
  const std::size_t rounded = (size + kPage - 1) / kPage * kPage;
  std::unique_ptr<char, FreeDeleter> buffer(static_cast<char*>(std::aligned_alloc(kPage, rounded)));
  std::memset(buffer.get(), 1, rounded);
  return buffer;
}

void Finish(benchmark::State& state, std::size_t size) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void OpenRead(benchmark::State& state, const std::string& path, std::size_t size) {
  auto buffer = PageAlignedBuffer(size);
  for (auto _ : state) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::size_t done = 0;
    for (ssize_t n; done < size && (n = read(fd, buffer.get() + done, size - done)) > 0;)
      done += static_cast<std::size_t>(n);
    close(fd);
    if (done != size) state.SkipWithError("short read");
    benchmark::DoNotOptimize(buffer.get());
  }
  Finish(state, size);
}

void FopenRead(benchmark::State& state, const std::string& path, std::size_t size) {
  auto buffer = PageAlignedBuffer(size);
  for (auto _ : state) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    std::size_t n = f != nullptr ? std::fread(buffer.get(), 1, size, f) : 0;
    if (f != nullptr) std::fclose(f);
    if (n != size) state.SkipWithError("short read");
    benchmark::DoNotOptimize(buffer.get());
  }
  Finish(state, size);
}

void IfstreamRead(benchmark::State& state, const std::string& path, std::size_t size) {
  auto buffer = PageAlignedBuffer(size);
  for (auto _ : state) {
    std::ifstream in(path, std::ios::binary);
    in.read(buffer.get(), static_cast<std::streamsize>(size));
    if (static_cast<std::size_t>(in.gcount()) != size) state.SkipWithError("short read");
    benchmark::DoNotOptimize(buffer.get());
  }
  Finish(state, size);
}

void PreadOpen(benchmark::State& state, int fd, std::size_t size) {
  auto buffer = PageAlignedBuffer(size);
  for (auto _ : state) {
    std::size_t done = 0;
    for (ssize_t n; done < size; done += static_cast<std::size_t>(n)) {
      n = pread(fd, buffer.get() + done, size - done, static_cast<off_t>(done));
      if (n <= 0) break;
    }
    if (done != size) state.SkipWithError("short read");
    benchmark::DoNotOptimize(buffer.get());
  }
  Finish(state, size);
}

void CopyFromMapping(benchmark::State& state, const char* mapping, std::size_t size) {
  auto buffer = PageAlignedBuffer(size);
  for (auto _ : state) {
    std::memcpy(buffer.get(), mapping, size);
    benchmark::DoNotOptimize(buffer.get());
  }
  Finish(state, size);
}

// Writes |image| as the file at |path|.
bool WriteFile(const std::string& path, const std::string& image) {
  std::ofstream out(path, std::ios::binary);
  out << image;
  return static_cast<bool>(out);
}

double Median(RatioReporter& reporter, const std::string& name) {
  auto it = reporter.times.find(name + "_median");
  if (it == reporter.times.end()) it = reporter.times.find(name);
  return it == reporter.times.end() ? 0.0 : it->second;
}

}  // namespace

int main(int argc, char** argv) {
  char dir[] = "/tmp/lumora-bench-XXXXXX";
  char shm_dir[] = "/dev/shm/lumora-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr || mkdtemp(shm_dir) == nullptr) return 1;
  if (!storage::CMemFileMgr::InstallFileHooks()) return 1;

  std::vector<std::string> cleanup;
  std::vector<int> memfds;
  std::vector<std::pair<char*, std::size_t>> mappings;
  for (std::size_t i = 0; i < kSizes.size(); ++i) {
    const std::size_t size = kSizes[i];
    const std::string name = kSizeNames[i];
    std::string image(size, '\0');
    for (std::size_t b = 0; b < size; ++b) image[b] = static_cast<char>(b * 131 + 7);
    const std::string memory = "/nonexistent-lumora-bench/" + name + ".swf";
    const std::string disk = std::string(dir) + "/" + name + ".swf";
    const std::string shm = std::string(shm_dir) + "/" + name + ".swf";
    if (!WriteFile(disk, image) || !WriteFile(shm, image)) return 1;
    cleanup.push_back(disk);
    cleanup.push_back(shm);
    if (!storage::CMemFileMgr::AddMemoryFile(memory, image.data(), static_cast<std::uint32_t>(size),
                                             false))
      return 1;
    const int memfd = open(memory.c_str(), O_RDONLY | O_CLOEXEC);
    void* mapped = mmap(nullptr, size, PROT_READ, MAP_SHARED | MAP_POPULATE, memfd, 0);
    if (memfd < 0 || mapped == MAP_FAILED) return 1;
    memfds.push_back(memfd);
    mappings.emplace_back(static_cast<char*>(mapped), size);

    using Reader = void (*)(benchmark::State&, const std::string&, std::size_t);
    const std::pair<const char*, Reader> readers[] = {
        {"open+read", OpenRead}, {"fopen+fread", FopenRead}, {"ifstream", IfstreamRead}};
    for (const auto& [reader, run] : readers) {
      benchmark::RegisterBenchmark((std::string(reader) + "/memory/" + name).c_str(), run, memory,
                                   size);
      benchmark::RegisterBenchmark((std::string(reader) + "/page-cache/" + name).c_str(), run, disk,
                                   size);
    }
    benchmark::RegisterBenchmark(("floor:open+read/tmpfs/" + name).c_str(), OpenRead, shm, size);
    benchmark::RegisterBenchmark(("floor:ifstream/tmpfs/" + name).c_str(), IfstreamRead, shm, size);
    benchmark::RegisterBenchmark(("pread/open-memfd/" + name).c_str(), PreadOpen, memfd, size);
    benchmark::RegisterBenchmark(("memcpy/mapping/" + name).c_str(), CopyFromMapping,
                                 static_cast<const char*>(mapped), size);
  }

  // Repeated and interleaved at random unless told otherwise.
  std::vector<char*> args(argv, argv + argc);
  std::string repetitions = "--benchmark_repetitions=7";
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  std::string aggregates = "--benchmark_report_aggregates_only=true";
  std::string min_time = "--benchmark_min_time=0.05";
  if (argc == 1) {
    args.push_back(repetitions.data());
    args.push_back(interleave.data());
    args.push_back(aggregates.data());
    args.push_back(min_time.data());
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\nMedian time ratios (below 1 is faster).\n");
  std::printf(
      "floor = the same reader on the same bytes in a file on tmpfs (/dev/shm);\n"
      "pread = pread of the whole image on an already open memfd\n");
  std::printf("%-8s %12s %12s %12s %14s %14s %14s\n", "size", "open:mem/pc", "fopen:mem/pc",
              "ifstr:mem/pc", "open:mem/floor", "ifstr:mem/floor", "pread/floor");
  for (const char* name : kSizeNames) {
    auto time = [&](const std::string& what) { return Median(reporter, what + "/" + name); };
    auto ratio = [&](const std::string& a, const std::string& b) {
      const double tb = time(b);
      return tb > 0 ? time(a) / tb : 0.0;
    };
    std::printf("%-8s %12.2f %12.2f %12.2f %14.2f %14.2f %14.2f\n", name,
                ratio("open+read/memory", "open+read/page-cache"),
                ratio("fopen+fread/memory", "fopen+fread/page-cache"),
                ratio("ifstream/memory", "ifstream/page-cache"),
                ratio("open+read/memory", "floor:open+read/tmpfs"),
                ratio("ifstream/memory", "floor:ifstream/tmpfs"),
                ratio("pread/open-memfd", "floor:open+read/tmpfs"));
  }

  for (auto& [mapping, size] : mappings) munmap(mapping, size);
  for (int fd : memfds) close(fd);
  storage::CMemFileMgr::RemoveAll();
  for (const std::string& path : cleanup) unlink(path.c_str());
  rmdir(dir);
  rmdir(shm_dir);
  return 0;
}
