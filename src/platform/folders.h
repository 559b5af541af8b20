// The folders the program starts from, as the system reports them (UTF-8 paths).
#ifndef LUMORA_PLATFORM_FOLDERS_H_
#define LUMORA_PLATFORM_FOLDERS_H_

#include <string>

#include "platform/status.h"

namespace platform {

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
// Makes the folder |path| and those above it that are missing (an absolute path).
Status MakeDirectories(const std::string& path);
// True when the program folder |folder| (an absolute path) belongs to the system's
// packages: it lies under /usr, but not under /usr/local, which is the administrator's
// own. Such a folder is no user's to write, and its files are replaced by the package
// manager alone, never by the program itself.
bool IsSystemProgramFolder(const std::string& folder);

}  // namespace platform

#endif  // LUMORA_PLATFORM_FOLDERS_H_
