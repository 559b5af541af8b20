#include "update/installed_release.h"

#include <glib.h>

#include <cerrno>

#include "platform/ansi.h"
#include "platform/files.h"

namespace update {

platform::Status InstalledRelease::Read(std::uint64_t* release) const {
  std::string text;
  if (platform::Status read =
          platform::ReadRegularFile(ansi::NativePath(path_), kMaxFileBytes, &text);
      !read.ok())
    return read;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (text.empty() || text.size() > 19)
    return platform::Status::Corrupt(path_ + ": not a release number");
  std::uint64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return platform::Status::Corrupt(path_ + ": not a release number");
    n = n * 10 + static_cast<std::uint64_t>(c - '0');
  }
  *release = n;
  return platform::Status();
}

platform::Status InstalledRelease::Write(std::uint64_t release) const {
  const std::string native = ansi::NativePath(path_);
  const std::size_t slash = native.rfind('/');
  if (slash != std::string::npos && slash > 0 &&
      g_mkdir_with_parents(native.substr(0, slash).c_str(), 0755) != 0)
    return platform::PosixError(native.substr(0, slash), errno);
  return platform::ReplaceFileContents(native, std::to_string(release) + "\n");
}

}  // namespace update
