// Reading files that come from outside without trusting what they are: only regular
// files are read, they are opened without blocking (a FIFO or a device named like a
// catalogue never stalls the program) and their size is bounded. Paths are UTF-8.
#ifndef LUMORA_PLATFORM_REGULAR_FILE_H_
#define LUMORA_PLATFORM_REGULAR_FILE_H_

#include <cstddef>
#include <string>

namespace platform {

enum class FileRead {
  kOk,
  kMissing,     // nothing at the path (or a dangling link)
  kNotRegular,  // a folder, FIFO, socket or device
  kTooLarge,    // larger than the caller's limit
  kFailed,      // there, but it could not be opened or read
};

// A descriptor for reading the regular file at |path|, opened without blocking and
// closed on exec; -1 with |why| (when given) set otherwise.
[[nodiscard]] int OpenRegularFile(const std::string& path, FileRead* why = nullptr);

// Reads the whole regular file at |path| into |contents| when it holds at most
// |max_bytes| bytes.
[[nodiscard]] FileRead ReadRegularFile(const std::string& path, std::size_t max_bytes,
                                       std::string* contents);

// True when |path| can be opened for reading as a regular file. Never blocks.
bool IsReadableFile(const std::string& path);

}  // namespace platform

#endif  // LUMORA_PLATFORM_REGULAR_FILE_H_
