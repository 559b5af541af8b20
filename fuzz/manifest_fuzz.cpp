// The update manifest: read, its entries placed below their base folders, checked
// against the files there and handed out. Every folder it makes lies below the base.
#include <dirent.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz_files.h"
#include "update/update_file.h"
#include "update/update_files.h"

namespace {

// True when |path| lies strictly below |folder| and has no "." or ".." part there.
bool LiesBelow(const std::string& path, const std::string& folder) {
  if (path.size() <= folder.size() + 1 || path.compare(0, folder.size(), folder) != 0 ||
      path[folder.size()] != '/')
    return false;
  std::size_t start = folder.size() + 1;
  for (;;) {
    const std::size_t slash = path.find('/', start);
    const std::string part =
        path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (part.empty() || part == "." || part == "..") return false;
    if (slash == std::string::npos) return true;
    start = slash + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& scratch = fuzz::ScratchFolder();
  const std::string base = scratch + "/base";
  fuzz::EmptyFolder(base);
  const std::string manifest = fuzz::WriteScratchFile("manifest.xml", data, size);

  update::BaseFolders folders;
  folders.current_dir = base + "/current";
  folders.windows_dir = base + "/windows";
  folders.system_dir = base + "/system";
  folders.app_data_dir = base + "/appdata";
  folders.version_index = base + "/installed-versions.txt";
  for (const std::string* folder :
       {&folders.current_dir, &folders.windows_dir, &folders.system_dir, &folders.app_data_dir})
    mkdir(folder->c_str(), 0700);

  update::CUpdateFiles files(folders);
  if (!files.Load(manifest)) return 0;
  // The accessors run over whatever was loaded; only a crash or a sanitizer report counts.
  (void)files.GetRefused();
  const std::size_t loaded = files.GetCount();
  if (files.CheckUpdates() > loaded) fuzz::Fail("more entries to update than were read");
  (void)files.GetTotalLength();
  while (std::unique_ptr<update::CUpdateFile> entry = files.PopFront())
    if (!LiesBelow(entry->target_path(), base))
      fuzz::Fail("an entry whose target leaves the base folders: " + entry->target_path());

  // Nothing was made beside the base folder and the manifest.
  DIR* dir = opendir(scratch.c_str());
  if (dir == nullptr) fuzz::Fail("the scratch folder went");
  while (const dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name != "." && name != ".." && name != "base" && name != "manifest.xml")
      fuzz::Fail("the manifest made " + name + " beside the base folder");
  }
  closedir(dir);
  return 0;
}
