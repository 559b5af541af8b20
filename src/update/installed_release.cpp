#include "update/installed_release.h"

#include <cerrno>

#include "platform/ansi.h"
#include "platform/files.h"
#include "update/minisign.h"

namespace update {

platform::Status InstalledRelease::Read(std::uint64_t* release) const {
  std::string text;
  if (platform::Status read =
          platform::ReadRegularFile(ansi::NativePath(path_), kMaxFileBytes, &text);
      !read.ok())
    return read;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (!minisign::ParseDecimal(text, release))
    return platform::Status::Corrupt(path_ + ": not a release number");
  return platform::Status();
}

platform::Status InstalledRelease::Write(std::uint64_t release) const {
  const std::string native = ansi::NativePath(path_);
  if (platform::Status made = platform::MakeParentFolders(native); !made.ok()) return made;
  return platform::ReplaceFileContents(native, std::to_string(release) + "\n");
}

}  // namespace update
