// The temporary files that the program's own atomic replacements leave behind when the
// program is killed or the machine stops between writing one and renaming it into
// place: removed from the folders the program writes when it starts and when a user
// signs in, so that none of them stays for good.
#ifndef LUMORA_APP_STALE_TEMPORARIES_H_
#define LUMORA_APP_STALE_TEMPORARIES_H_

#include <string>

#include "library/catalogues.h"

namespace app {

// The data folder, its "public/" folder and the catalogue folders below it, the
// program folder (temporary files of ".xml" files only: it may be any folder of the
// user's), the autostart folder (the program's entry only) and the folders that
// downloads wrote their bodies in (bodies only). Returns how many went.
int RemoveStaleTemporaries(const library::CatalogueFolders& folders);

// The user's own folder (code page), which holds the user shelf file.
int RemoveStaleUserTemporaries(const std::string& user_folder);

}  // namespace app

#endif  // LUMORA_APP_STALE_TEMPORARIES_H_
