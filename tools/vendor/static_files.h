// The files of the data folder served as they are: catalogues, the server list, update
// manifests and files, shelf items. Only regular files inside the folder are served.
#ifndef LUMORA_TOOLS_VENDOR_STATIC_FILES_H_
#define LUMORA_TOOLS_VENDOR_STATIC_FILES_H_

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "base/status.h"
#include "base/unique_file.h"

namespace vendor {

struct OpenedFile {
  base::UniqueFd fd;
  std::uint64_t size = 0;
  std::string content_type;
  struct stat st {};  // as it was opened
};

// Opens the file that |raw_path| (the path of the request target as sent) names below
// |root| (a canonical absolute folder name). The path is percent-decoded; a ".." part
// (however encoded) is refused; the file's real name, links resolved, must lie inside
// |root|. The file is opened without blocking, so a FIFO never holds the request up.
// Invalid for a path that names a parent folder, holds a NUL byte or is not absolute;
// NotFound for a file that is missing, not a regular file, outside the folder, or one
// of the service's own.
[[nodiscard]] base::Status OpenStaticFile(const std::string& root, std::string_view raw_path,
                                          OpenedFile* file);

// The content type for a file name, by its extension ("application/xml" for ".xml",
// "application/octet-stream" when unknown).
std::string ContentTypeFor(std::string_view name);

}  // namespace vendor

#endif  // LUMORA_TOOLS_VENDOR_STATIC_FILES_H_
