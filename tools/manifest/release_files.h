// The files of a release folder as an update manifest lists them: every regular file
// below the folder, with the sub-folder it is installed in (its LocalPath) and its
// name. A manifest's URL of a file is the base URL, its LocalPath and its name joined
// by "/", so every folder and file name must be usable in a URL as it is; names that
// are not, links, and anything that is not a regular file or a folder are left out and
// reported. Patches that the publisher put beside the files (names ending in
// ".zst-patch") are not files of the release and are passed over without a word.
#ifndef LUMORA_TOOLS_MANIFEST_RELEASE_FILES_H_
#define LUMORA_TOOLS_MANIFEST_RELEASE_FILES_H_

#include <string>
#include <vector>

namespace manifest {

struct ReleaseFile {
  std::string native_path;  // the file (UTF-8)
  std::string local_path;   // its folder below the release folder, "/"-separated
  std::string name;
};

// Something below the release folder that is not published, and why.
struct LeftOut {
  std::string native_path;
  std::string reason;
};

// Lists the release below |folder|, ordered by folder and then name (byte order),
// leaving out |skip| (the manifest being written, when it lies inside) and whatever a manifest
// cannot carry for a base URL of |base_url_size| bytes. False when the folder itself
// cannot be read.
[[nodiscard]] bool ListRelease(const std::string& folder, const std::string& skip,
                               std::size_t base_url_size, std::vector<ReleaseFile>* files,
                               std::vector<LeftOut>* left_out, std::string* error);

}  // namespace manifest

#endif  // LUMORA_TOOLS_MANIFEST_RELEASE_FILES_H_
