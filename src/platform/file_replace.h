// Replacing whole files so that a crash or a full disk never leaves half a file: the
// new content goes to a temporary file in the same folder, is flushed to the disk and
// then renamed over the old file. Paths are UTF-8.
#ifndef LUMORA_PLATFORM_FILE_REPLACE_H_
#define LUMORA_PLATFORM_FILE_REPLACE_H_

#include <string>
#include <string_view>

namespace platform {

// Writes |contents| as the file at |path|. False (and the old file untouched, no
// temporary file left) when any step fails; the folder must exist.
bool ReplaceFileContents(const std::string& path, std::string_view contents);

// Copies the file |from| over |to| the same way. Copying a file onto itself leaves it
// as it is and succeeds. False when |from| cannot be read or |to| cannot be written.
bool CopyFileReplacing(const std::string& from, const std::string& to);

}  // namespace platform

#endif  // LUMORA_PLATFORM_FILE_REPLACE_H_
