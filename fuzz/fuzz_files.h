// The fuzz targets' scratch folder and the checks they make on what a parser gave back.
#ifndef LUMORA_FUZZ_FUZZ_FILES_H_
#define LUMORA_FUZZ_FUZZ_FILES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fuzz {

// A folder of this process, made on the first call and removed with all it holds at a
// normal exit: inside $LUMORA_FUZZ_SCRATCH when set, else on a memory file system
// (/dev/shm when there is one, else /tmp).
const std::string& ScratchFolder();

// Writes |data| as the file |name| of the scratch folder, replacing it, and returns its
// path.
std::string WriteScratchFile(const std::string& name, const std::uint8_t* data, std::size_t size);

// Removes everything inside |folder|, which stays.
void EmptyFolder(const std::string& folder);

// Ends the run with |what| on standard error: the fuzzer records the input as a crash.
[[noreturn]] void Fail(std::string_view what);

}  // namespace fuzz

#endif  // LUMORA_FUZZ_FUZZ_FILES_H_
