// The folders the program starts from, as the system reports them (UTF-8 paths), and
// the making of folders: every folder the program makes is made here.
#ifndef LUMORA_BASE_FOLDERS_H_
#define LUMORA_BASE_FOLDERS_H_

#include <sys/types.h>

#include <string>
#include <vector>

#include "base/status.h"

namespace base {

// The user's data folder: $XDG_DATA_HOME, or ~/.local/share when it is unset or not an
// absolute path. No trailing separator. The folder is not created.
std::string DataHome();
// The user's configuration folder: $XDG_CONFIG_HOME, or ~/.config likewise.
std::string ConfigHome();
// The process's current directory.
std::string CurrentDirectory();
// The full path of the running program file.
std::string ProgramFile();
// True when |path| names an existing directory.
bool IsDirectory(const std::string& path);
// Makes the folder |path| unless it is one already (its parent must exist).
Status MakeDirectory(const std::string& path);
// Makes the folder |path| and those above it that are missing (an absolute path), each
// with |mode| (less the umask).
Status MakeDirectories(const std::string& path, mode_t mode = 0777);
// Makes the folder |path| with |mode| (less the umask). Also Ok when something is there
// already, whatever it is: the caller looks at what it finds. The parent must exist.
Status MakeFolder(const std::string& path, mode_t mode);
// Makes each missing folder of the path |path| and |path| itself, outermost first, with
// |mode| (less the umask); what is there already, or appears meanwhile, counts as there.
// Each folder made is appended to |made| when given. Whether |path| is a folder
// afterwards is the caller's to check.
Status MakeMissingFolders(const std::string& path, mode_t mode,
                          std::vector<std::string>* made = nullptr);
// Removes the folders of |made| (outermost first, as MakeMissingFolders lists them) that
// are empty, innermost first.
void RemoveEmptyFolders(const std::vector<std::string>& made);
// True when the program folder |folder| (an absolute path) belongs to the system's
// packages: it lies under /usr, but not under /usr/local, which is the administrator's
// own. Such a folder is no user's to write, and its files are replaced by the package
// manager alone, never by the program itself.
bool IsSystemProgramFolder(const std::string& folder);

}  // namespace base

#endif  // LUMORA_BASE_FOLDERS_H_
