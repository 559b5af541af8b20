#include "update/installed_release.h"

#include <cerrno>

#include "base/ansi.h"
#include "base/files.h"
#include "update/minisign.h"

namespace update {

base::Status InstalledRelease::Read(std::uint64_t* release) const {
  std::string text;
  if (base::Status read = base::ReadRegularFile(ansi::NativePath(path_), kMaxFileBytes, &text);
      !read.ok())
    return read;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (!minisign::ParseDecimal(text, release))
    return base::Status::Corrupt(path_ + ": not a release number");
  return base::Status();
}

base::Status InstalledRelease::Write(std::uint64_t release) const {
  const std::string native = ansi::NativePath(path_);
  if (base::Status made = base::MakeParentFolders(native); !made.ok()) return made;
  return base::ReplaceFileContents(native, std::to_string(release) + "\n");
}

}  // namespace update
