#include "app/stale_temporaries.h"

#include "platform/ansi.h"
#include "platform/files.h"
#include "platform/system_entries.h"
#include "update/download_folders.h"

namespace app {

int RemoveStaleTemporaries(const library::CatalogueFolders& folders) {
  using library::Catalogue;
  const std::string& data = folders.data_folder();
  int removed = 0;
  // The folders of the program's own: the version index, the settings file, the
  // catalogues and the local books' covers.
  for (const std::string& folder : {data, data + "public/"})
    removed += platform::RemoveStaleTemporaries(ansi::NativePath(folder), "");
  for (Catalogue catalogue : {Catalogue::kMagazines, Catalogue::kBooks, Catalogue::kAudio,
                              Catalogue::kMiscellaneous, Catalogue::kVideo, Catalogue::kLocal}) {
    const std::string path = folders.Path(catalogue);
    removed +=
        platform::RemoveStaleTemporaries(ansi::NativePath(path.substr(0, path.rfind('/'))), "");
  }
  // The program folder is wherever the program was started, perhaps the user's home:
  // only the temporary files of catalogues.
  removed += platform::RemoveStaleTemporaries(ansi::NativePath(folders.program_folder()), ".xml");
  const std::string entry = platform::AutostartEntryPath();
  removed += platform::RemoveStaleTemporaries(entry.substr(0, entry.rfind('/')),
                                              platform::kAutostartEntryName);
  // The bodies of downloads, in whatever folders the downloads wrote.
  removed += update::DownloadFolders(ansi::NativePath(data + update::DownloadFolders::kFileName))
                 .RemoveStaleBodies();
  return removed;
}

int RemoveStaleUserTemporaries(const std::string& user_folder) {
  return platform::RemoveStaleTemporaries(ansi::NativePath(user_folder), "");
}

}  // namespace app
