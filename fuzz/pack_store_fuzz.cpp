// The packed store behind a program file: its directory read, and entries extracted.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz_files.h"
#include "storage/pack_file_mgr.h"

using storage::CPackFileMgr;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::WriteScratchFile("program", data, size);
  CPackFileMgr::TEST_UseStoreFile(path);
  if (!CPackFileMgr::LoadDirectory()) return 0;
  // The program's own movie, and a short name the fuzzer can find in the directory.
  for (const char* name : {"main12.swf", "a"}) {
    std::unique_ptr<char[]> buffer;
    std::int32_t extracted = -1;
    if (CPackFileMgr::ExtractFile(name, &buffer, &extracted) &&
        (extracted < 1 || static_cast<std::size_t>(extracted) > size || buffer == nullptr))
      fuzz::Fail("an entry extracted past the file");
  }
  CPackFileMgr::ClearDirectory();
  return 0;
}
