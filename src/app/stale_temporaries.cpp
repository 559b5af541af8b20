#include "app/stale_temporaries.h"

#include "base/ansi.h"
#include "base/files.h"
#include "os/system_entries.h"
#include "update/download_folders.h"

namespace app {

int RemoveStaleTemporaries(const library::CatalogueFolders& folders) {
  using library::Catalogue;
  const std::string& data = folders.data_folder();
  int removed = 0;
  // The folders of the program's own: the version index, the settings file, the
  // catalogues and the local books' covers.
  for (const std::string& folder : {data, data + "public/"})
    removed += base::RemoveStaleTemporaries(ansi::NativePath(folder), "");
  for (Catalogue catalogue : {Catalogue::kMagazines, Catalogue::kBooks, Catalogue::kAudio,
                              Catalogue::kMiscellaneous, Catalogue::kVideo, Catalogue::kLocal}) {
    const std::string path = folders.Path(catalogue);
    removed += base::RemoveStaleTemporaries(ansi::NativePath(path.substr(0, path.rfind('/'))), "");
  }
  // The program folder is wherever the program was started, perhaps the user's home:
  // only the temporary files of catalogues.
  removed += base::RemoveStaleTemporaries(ansi::NativePath(folders.program_folder()), ".xml");
  const std::string entry = os::AutostartEntryPath();
  removed +=
      base::RemoveStaleTemporaries(entry.substr(0, entry.rfind('/')), os::kAutostartEntryName);
  // The bodies of downloads, in whatever folders the downloads wrote.
  removed += update::DownloadFolders(ansi::NativePath(data + update::DownloadFolders::kFileName))
                 .RemoveStaleBodies();
  return removed;
}

int RemoveStaleUserTemporaries(const std::string& user_folder) {
  return base::RemoveStaleTemporaries(ansi::NativePath(user_folder), "");
}

}  // namespace app
