// The program's file helpers. Paths are UTF-8.
//
// Reading: files that come from outside are read without trusting what they are. Only
// regular files are read, they are opened without blocking (a FIFO or a device named
// like a catalogue never stalls the program) and their size is bounded.
//
// Replacing: whole files are replaced so that a crash or a full disk never leaves half
// a file. The new content goes to a temporary file in the same folder, is flushed to
// the disk and then renamed over the old file. A replacement keeps what the user set on
// the old file: its permission bits, and a symbolic link stays a link (the file it
// points to is replaced). A new file gets the usual mode of a new file (0666 less the
// umask). A read-only file, and anything that is not a regular file (a folder, a FIFO,
// a device), is never replaced. The temporary file is named "." + NAME + "." + six
// letters or digits and is locked (flock) while it is written, so that one left by a
// process that ended half-way can be told from one that a live process writes.
#ifndef LUMORA_BASE_FILES_H_
#define LUMORA_BASE_FILES_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "base/status.h"
#include "base/unique_file.h"

namespace base {

// The folder part of |path| ("." when it has none, "/" for a file of the root).
std::string FolderOf(const std::string& path);
// Makes the folder of the file at |path| (a path of the system's) with its missing
// parents, mode 0755 less the umask; Ok when it is there already or |path| has none.
[[nodiscard]] Status MakeParentFolders(const std::string& path);

// Opens the regular file at |path| for reading, without blocking and closed on exec.
// NotFound when nothing is there (or a link dangles), NotRegular for a folder, FIFO,
// socket or device, IoError when it cannot be opened.
Status OpenRegularFile(const std::string& path, UniqueFd* file);

// Reads the whole regular file at |path| into |contents| when it holds at most
// |max_bytes| bytes (TooLarge otherwise; |contents| is then empty).
Status ReadRegularFile(const std::string& path, std::size_t max_bytes, std::string* contents);

// True when |path| can be opened for reading as a regular file. Never blocks.
bool IsReadableFile(const std::string& path);

// True when something exists at |path| (a file, a folder or a dangling link).
bool PathExists(const std::string& path);

// Reads the whole file through the C library's stream functions, as any component of
// the process would (so memory files are served too).
Status ReadWholeFile(const std::string& path, std::string* contents);

// Writes |contents| as the file at |path|. On failure the old file is untouched and no
// temporary file is left; the folder must exist.
Status ReplaceFileContents(const std::string& path, std::string_view contents);

// Copies the regular file |from| over |to| the same way, streaming it (memory stays
// bounded whatever its size). Copying a file onto itself leaves it as it is and
// succeeds. Fails when |from| is not a readable regular file or |to| cannot be written.
Status CopyFileReplacing(const std::string& from, const std::string& to);

// Creates a new file beside |target| for writing, named as the temporary files of
// replacements are ("." + NAME + "." + six letters or digits; never an existing file
// or link), with the usual mode of a new file and locked for as long as |file| (or a
// duplicate of it) stays open. Its path goes to |path|.
Status CreateTemporaryFile(const std::string& target, UniqueFd* file, std::string* path);

// Removes from |folder| the temporary files that replacements of a process that has
// ended left behind (killed, or the machine stopped, between making the temporary file
// and renaming it): entries named "." + BASE + "." + six letters or digits, BASE ending
// in |base_suffix| ("" for any), that are regular files of this user last written
// before this process started and that no live process holds locked. Nothing else is
// touched; folders are not entered. Returns how many went (0 when the folder cannot
// be read).
int RemoveStaleTemporaries(const std::string& folder, std::string_view base_suffix);

}  // namespace base

#endif  // LUMORA_BASE_FILES_H_
