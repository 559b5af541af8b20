#include "platform/system_entries.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "platform/file_replace.h"
#include "platform/folders.h"

namespace platform {
namespace {

struct GFreeDeleter {
  void operator()(gchar* p) const noexcept { g_free(p); }
};
using GCharPtr = std::unique_ptr<gchar, GFreeDeleter>;

struct GObjectDeleter {
  void operator()(gpointer p) const noexcept { g_object_unref(p); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectDeleter>;

// Characters that make an Exec argument need quotation marks.
constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#`()";

// A value of a desktop entry with the string escapes of the format applied.
std::string EscapeValue(std::string_view value) {
  std::string out;
  for (char c : value) {
    if (c == '\\') out += "\\\\";
    else out += c;
  }
  return out;
}

// True when |path| is an absolute path that a desktop entry can carry: UTF-8 without
// control characters.
bool IsWritablePath(const std::string& path) {
  if (path.empty() || path[0] != '/') return false;
  if (!g_utf8_validate(path.data(), static_cast<gssize>(path.size()), nullptr)) return false;
  for (unsigned char c : path)
    if (c < 0x20 || c == 0x7F) return false;
  return true;
}

// Makes |folder| and its missing parents, new ones readable by the user alone.
bool MakeFolders(const std::string& folder) {
  return g_mkdir_with_parents(folder.c_str(), 0700) == 0 && IsDirectory(folder);
}

class XdgEntries : public SystemEntries {
 public:
  bool SetAutostart(bool enable, const std::string& program) override {
    const std::string path = AutostartEntryPath();
    if (!enable) {
      // Only an entry of the program's name goes; a folder of that name stays.
      struct stat st;
      if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
      if (S_ISDIR(st.st_mode)) return false;
      return unlink(path.c_str()) == 0;
    }
    const std::string text = AutostartEntryText(program);
    if (text.empty()) return false;
    const std::size_t slash = path.rfind('/');
    return MakeFolders(path.substr(0, slash)) && ReplaceFileContents(path, text);
  }

  bool FindDefaultHandler(const std::string& extension, FileHandler* out) override {
    if (out == nullptr || extension.empty() || extension.find('/') != std::string::npos)
      return false;
    // The type of a file name with that ending, by the globs of the MIME database.
    const std::string name = "document" + extension;
    gboolean uncertain = FALSE;
    GCharPtr type(g_content_type_guess(name.c_str(), nullptr, 0, &uncertain));
    if (!type || g_content_type_is_unknown(type.get())) return false;
    GObjectPtr<GAppInfo> app(g_app_info_get_default_for_type(type.get(), FALSE));
    if (!app) return false;
    const char* command = g_app_info_get_commandline(app.get());
    if (command == nullptr || command[0] == '\0') return false;
    FileHandler found;
    found.command = command;
    if (G_IS_DESKTOP_APP_INFO(app.get())) {
      // The entry's own Icon value: a theme icon name or an icon file.
      GCharPtr icon(g_desktop_app_info_get_string(G_DESKTOP_APP_INFO(app.get()),
                                                  G_KEY_FILE_DESKTOP_KEY_ICON));
      if (icon) found.icon = icon.get();
    }
    *out = std::move(found);
    return true;
  }
};

}  // namespace

SystemEntries& XdgSystemEntries() {
  static XdgEntries entries;
  return entries;
}

std::string AutostartEntryPath() {
  return ConfigHome() + "/autostart/" + kAutostartEntryName;
}

std::string QuoteExecArgument(std::string_view argument) {
  std::string out;
  const bool quote = argument.empty() || argument.find_first_of(kReserved) != std::string::npos;
  if (quote) out += '"';
  for (char c : argument) {
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) out += '\\';
    out += c;
    if (c == '%') out += '%';
  }
  if (quote) out += '"';
  return out;
}

std::string AutostartEntryText(const std::string& program) {
  if (!IsWritablePath(program)) return {};
  const std::size_t slash = program.rfind('/');
  const std::string folder = slash == 0 ? "/" : program.substr(0, slash);
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Version=1.0\n"
         "Name=Lumora\n"
         "Comment=Opens the bookshelf when the session starts\n"
         "Exec=" + EscapeValue(QuoteExecArgument(program)) + "\n"
         "Path=" + EscapeValue(folder) + "\n"
         "Terminal=false\n";
}

}  // namespace platform
