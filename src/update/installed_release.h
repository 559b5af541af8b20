// The number of the release installed from the update servers, kept in a small file
// of its own in the data folder ("installed-release.txt": the decimal number and LF).
// A signed manifest of an older release is refused against it (a replay). The file is
// replaced whole and atomically; only a regular file of a few bytes is read, without
// ever blocking.
#ifndef LUMORA_UPDATE_INSTALLED_RELEASE_H_
#define LUMORA_UPDATE_INSTALLED_RELEASE_H_

#include <cstdint>
#include <string>

#include "base/status.h"

namespace update {

class InstalledRelease {
 public:
  static constexpr const char* kFileName = "installed-release.txt";
  static constexpr std::size_t kMaxFileBytes = 64;

  // The file at |path| (code page, '/' separators); nothing is read yet.
  explicit InstalledRelease(std::string path) : path_(std::move(path)) {}

  // The installed release. NotFound when none was recorded (the first signed release
  // of this data folder); Corrupt when the file holds anything but a number.
  base::Status Read(std::uint64_t* release) const;

  // Records |release| as installed, making the file's folder when missing.
  base::Status Write(std::uint64_t release) const;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace update

#endif  // LUMORA_UPDATE_INSTALLED_RELEASE_H_
