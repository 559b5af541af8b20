#include "update/file_time.h"

namespace update {
namespace {

constexpr std::int64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kEpochSeconds = static_cast<std::int64_t>(kUnixEpochTicks) / kTicksPerSecond;

}  // namespace

FileTime ToFileTime(const struct timespec& time) {
  // Seconds since 1601 fit 64 bits as ticks until the year 30828, past any time_t a
  // file system gives; later times are held at the largest FILETIME.
  const std::int64_t seconds = static_cast<std::int64_t>(time.tv_sec) + kEpochSeconds;
  if (seconds < 0) return FileTime{};
  const std::uint64_t whole = static_cast<std::uint64_t>(seconds);
  if (whole > (UINT64_MAX - kTicksPerSecond) / kTicksPerSecond)
    return FileTime::FromTicks(UINT64_MAX);
  const long nanoseconds = time.tv_nsec >= 0 && time.tv_nsec < 1000000000 ? time.tv_nsec : 0;
  return FileTime::FromTicks(whole * kTicksPerSecond +
                             static_cast<std::uint64_t>(nanoseconds) / 100);
}

struct timespec FromFileTime(FileTime time) {
  const std::uint64_t ticks = time.Ticks();
  struct timespec result {};
  result.tv_sec =
      static_cast<time_t>(static_cast<std::int64_t>(ticks / kTicksPerSecond) - kEpochSeconds);
  result.tv_nsec = static_cast<long>(ticks % kTicksPerSecond) * 100;
  return result;
}

}  // namespace update
