// The files that the movie may read: those of the data folder and of the program folder,
// read-only, and nothing else. Requests name them by a path under the movie's own
// address: "/data/..." for the data folder (MyAppDataDir) and "/current/..." for the
// program folder (CurrentDir). Needs no display.
#ifndef LUMORA_PLATFORM_GTK_MOVIE_FILES_H_
#define LUMORA_PLATFORM_GTK_MOVIE_FILES_H_

#include <cstddef>
#include <string>

#include "base/status.h"

namespace platform {

// The largest file served to the movie.
constexpr std::size_t kMaxServedFile = 64u << 20;

struct ServedFile {
  std::string bytes;
  std::string content_type;  // "application/xml" for XML, with no charset
};

// Percent-decodes |text|; Invalid when an escape is malformed or decodes to a zero byte.
[[nodiscard]] base::Status PercentDecode(const std::string& text, std::string* decoded);

// The folder-relative part of a request path, checked: decoded, split at "/", empty and
// "." segments dropped; Invalid for a ".." segment, a zero byte, a bad escape or no
// name at all.
[[nodiscard]] base::Status CleanRelativePath(const std::string& encoded, std::string* relative);

// The content type by the file name's extension: XML as "application/xml" (no charset,
// so that the document's own encoding declaration holds), pictures by their type, and
// everything else as opaque bytes.
std::string ContentTypeFor(const std::string& path);

// Reads the file named by the request |path| ("/data/..." or "/current/...", the query
// and fragment already removed) under |data_dir| or |current_dir| (absolute folders; an
// empty one serves nothing). The file is opened without blocking, must be a regular
// file, and the file actually opened must lie inside the folder once every symbolic
// link is resolved. Invalid for a request that is not one of the two folders' files (a
// path that leaves them, a folder that is not named or not absolute), NotFound when no
// regular file is there, TooLarge past kMaxServedFile, IoError when it cannot be read.
[[nodiscard]] base::Status ServeMovieFile(const std::string& path, const std::string& data_dir,
                                          const std::string& current_dir, ServedFile* file);

}  // namespace platform

#endif  // LUMORA_PLATFORM_GTK_MOVIE_FILES_H_
