// File times as the manifest carries them: a FILETIME, 100-nanosecond ticks since
// 1 January 1601 UTC in two unsigned 32-bit halves, converted exactly to and from the
// file system's times (seconds and nanoseconds since 1 January 1970 UTC).
#ifndef LUMORA_UPDATE_FILE_TIME_H_
#define LUMORA_UPDATE_FILE_TIME_H_

#include <time.h>

#include <cstdint>

namespace update {

struct FileTime {
  std::uint32_t low = 0;
  std::uint32_t high = 0;

  std::uint64_t Ticks() const { return (std::uint64_t{high} << 32) | low; }
  static FileTime FromTicks(std::uint64_t ticks) {
    return FileTime{static_cast<std::uint32_t>(ticks), static_cast<std::uint32_t>(ticks >> 32)};
  }
};

// Ticks from 1601-01-01 to 1970-01-01.
inline constexpr std::uint64_t kUnixEpochTicks = 116444736000000000ull;

// The FILETIME of a file-system time; the nanoseconds below a tick are dropped. A time
// before 1601 gives 0.
FileTime ToFileTime(const struct timespec& time);
// The file-system time of a FILETIME, exact to the tick.
struct timespec FromFileTime(FileTime time);

}  // namespace update

#endif  // LUMORA_UPDATE_FILE_TIME_H_
