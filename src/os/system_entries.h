// The desktop's records about the program that the settings store keeps in step with
// the user's settings: whether the program starts with the desktop session, and which
// application opens a type of document. Texts and paths are UTF-8.
//
// One implementation serves both faces of the platform: these records are files and
// databases of the user's, read and written the same way with or without a display, so
// the automation interface changes the very entries a desktop session sees (tests point
// the XDG folders elsewhere).
#ifndef LUMORA_OS_SYSTEM_ENTRIES_H_
#define LUMORA_OS_SYSTEM_ENTRIES_H_

#include <string>
#include <string_view>

#include "base/status.h"

namespace os {

// The application that opens a type of document.
struct FileHandler {
  std::string icon;     // the icon name or icon file of the application
  std::string command;  // its command line, with its field codes ("%f", "%U", ...)
};

class SystemEntries {
 public:
  virtual ~SystemEntries() = default;
  // Makes the desktop session start |program| (a full path) when |enable|, or no longer
  // start it. OK when the desktop's record is as asked afterwards (no entry to remove, or
  // one that already starts |program|, is fine); Invalid for a program path that an
  // entry cannot carry and for nothing else, NotRegular when a folder stands where the
  // entry goes, or why the entry could not be written or removed (a read-only folder
  // among them). A record that cannot be changed stays as it was.
  [[nodiscard]] virtual base::Status SetAutostart(bool enable, const std::string& program) = 0;
  // The default application of files whose names end in |extension| (".sla"). NotFound,
  // and |out| untouched, when the desktop knows no type for such a name, or only guesses
  // one (several types claim the name), or knows no application for that type; NotRegular when one
  // of the desktop's records is not safe to read (a FIFO or a device in its place), Invalid for no
  // name ending.
  [[nodiscard]] virtual base::Status FindDefaultHandler(const std::string& extension,
                                                        FileHandler* out) = 0;
};

// The freedesktop records: the XDG autostart entry, and the default application that
// GIO finds for the type the shared MIME database gives a file name. Process-wide.
SystemEntries& XdgSystemEntries();

// Where the program's autostart entry lives: the user's configuration folder (folders.h
// ConfigHome) + "/autostart/" + kAutostartEntryName.
inline constexpr const char* kAutostartEntryName = "VellariShelf.desktop";
std::string AutostartEntryPath();

// The desktop entry that starts |program| in its own folder. Empty when |program| is
// not an absolute path in UTF-8 (a desktop entry holds UTF-8 text only).
std::string AutostartEntryText(const std::string& program);

// |argument| written as one argument of a desktop entry's Exec value: quoted when it
// holds a reserved character, with '"', '`', '$' and '\' escaped inside the quotes,
// and '%' doubled. The string escapes of the entry's values come on top of this.
std::string QuoteExecArgument(std::string_view argument);

}  // namespace os

#endif  // LUMORA_OS_SYSTEM_ENTRIES_H_
