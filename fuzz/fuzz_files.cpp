#include "fuzz_files.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace fuzz {
namespace {

int RemoveEntry(const char* path, const struct stat*, int, FTW*) {
  std::remove(path);
  return 0;
}

void RemoveTree(const std::string& folder) {
  nftw(folder.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

void RemoveScratch() { RemoveTree(ScratchFolder()); }

}  // namespace

const std::string& ScratchFolder() {
  static const std::string folder = [] {
    // scripts/fuzz names a parent folder of its own, which it removes after each run: a
    // run that ends on a finding does not get to remove its scratch folder.
    const char* parent = std::getenv("LUMORA_FUZZ_SCRATCH");
    struct stat shm {};
    std::string pattern = parent != nullptr && *parent != '\0'                  ? parent
                          : stat("/dev/shm", &shm) == 0 && S_ISDIR(shm.st_mode) ? "/dev/shm"
                                                                                : "/tmp";
    pattern += "/lumora-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) Fail("cannot make the scratch folder");
    return pattern;
  }();
  [[maybe_unused]] static const bool removed_at_exit = std::atexit(RemoveScratch) == 0;
  return folder;
}

std::string WriteScratchFile(const std::string& name, const std::uint8_t* data, std::size_t size) {
  const std::string path = ScratchFolder() + "/" + name;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) Fail("cannot write " + path);
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) Fail("cannot write " + path);
    done += static_cast<std::size_t>(n);
  }
  close(fd);
  return path;
}

void EmptyFolder(const std::string& folder) {
  RemoveTree(folder);
  mkdir(folder.c_str(), 0700);
}

void Fail(std::string_view what) {
  std::fprintf(stderr, "fuzz check failed: %.*s\n", static_cast<int>(what.size()), what.data());
  std::abort();
}

}  // namespace fuzz
