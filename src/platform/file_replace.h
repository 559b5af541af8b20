// Replacing whole files so that a crash or a full disk never leaves half a file: the
// new content goes to a temporary file in the same folder, is flushed to the disk and
// then renamed over the old file. Paths are UTF-8.
//
// A replacement keeps what the user set on the old file: its permission bits, and a
// symbolic link stays a link (the file it points to is replaced). A new file gets the
// usual mode of a new file (0666 less the umask). A read-only file, and anything that
// is not a regular file (a folder, a FIFO, a device), is never replaced.
#ifndef LUMORA_PLATFORM_FILE_REPLACE_H_
#define LUMORA_PLATFORM_FILE_REPLACE_H_

#include <string>
#include <string_view>

namespace platform {

// Writes |contents| as the file at |path|. False (and the old file untouched, no
// temporary file left) when any step fails; the folder must exist.
[[nodiscard]] bool ReplaceFileContents(const std::string& path, std::string_view contents);

// Copies the regular file |from| over |to| the same way, streaming it (memory stays
// bounded whatever its size). Copying a file onto itself leaves it as it is and
// succeeds. False when |from| is not a readable regular file or |to| cannot be
// written.
[[nodiscard]] bool CopyFileReplacing(const std::string& from, const std::string& to);

}  // namespace platform

#endif  // LUMORA_PLATFORM_FILE_REPLACE_H_
