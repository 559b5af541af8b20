// A patch of an update file, applied to a known installed file: whatever the patch
// holds, either the result is exactly the file its digest names or nothing is left.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/files.h"
#include "fuzz_files.h"
#include "update/file_digest.h"
#include "update/file_patch.h"

namespace {

// The installed file and the next version that the seeds' patches make of it: 32 KiB
// of a fixed pattern, and the same with 400 bytes changed. The seeds were made with
// `zstd --patch-from=base new`.
std::string Base() {
  std::string bytes(32768, '\0');
  for (std::uint32_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>(((i * 2654435761u) >> 13) & 0xff);
  return bytes;
}

std::string Next() {
  std::string bytes = Base();
  bytes.replace(1000, 400, std::string(400, 'n'));
  return bytes;
}

struct Known {
  std::string base_path, base_digest, next, next_digest;
};

const Known& Files() {
  static const Known known = [] {
    Known k;
    const std::string base = Base();
    k.base_path = fuzz::WriteScratchFile(
        "base.bin", reinterpret_cast<const std::uint8_t*>(base.data()), base.size());
    k.next = Next();
    const std::string next = fuzz::WriteScratchFile(
        "next.bin", reinterpret_cast<const std::uint8_t*>(k.next.data()), k.next.size());
    if (!update::Sha256OfFile(k.base_path, &k.base_digest).ok() ||
        !update::Sha256OfFile(next, &k.next_digest).ok())
      fuzz::Fail("the known files cannot be read");
    return k;
  }();
  return known;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Known& known = Files();
  const std::string patch = fuzz::WriteScratchFile("patch.zst", data, size);
  const std::string result = fuzz::ScratchFolder() + "/result.bin";
  unlink(result.c_str());
  const base::Status s =
      update::ApplyFilePatch(known.base_path, known.base_digest, patch, result, known.next_digest);
  struct stat st;
  if (!s.ok()) {
    if (lstat(result.c_str(), &st) == 0) fuzz::Fail("a refused patch left a result behind");
    return 0;
  }
  std::string bytes;
  if (!base::ReadRegularFile(result, known.next.size() + 1, &bytes).ok() || bytes != known.next)
    fuzz::Fail("an applied patch gave another file than the one named");
  return 0;
}
