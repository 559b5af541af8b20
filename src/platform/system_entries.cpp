#include "platform/system_entries.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include "platform/files.h"
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

struct GDirDeleter {
  void operator()(GDir* p) const noexcept { g_dir_close(p); }
};
using GDirPtr = std::unique_ptr<GDir, GDirDeleter>;

struct GStrvDeleter {
  void operator()(gchar** p) const noexcept { g_strfreev(p); }
};
using GStrvPtr = std::unique_ptr<gchar*, GStrvDeleter>;

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

// The folders of a colon-separated XDG list, or |fallback| when it is unset or empty;
// relative entries are ignored, as the desktop ignores them.
std::vector<std::string> FolderList(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  std::string list = value != nullptr && value[0] != '\0' ? value : fallback;
  std::vector<std::string> folders;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t colon = list.find(':', start);
    if (colon == std::string::npos) colon = list.size();
    std::string folder = list.substr(start, colon - start);
    if (!folder.empty() && folder[0] == '/') folders.push_back(folder);
    start = colon + 1;
  }
  return folders;
}

// The largest file that the desktop's databases may hold before they are taken for
// something hostile.
constexpr off_t kMaxRecordFile = 64 << 20;

// True when |path| is absent, a folder, or a regular file of a sane size: something
// that GIO can open and read to its end without waiting on a FIFO or a device.
bool SafeToRead(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR;
  return S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && st.st_size <= kMaxRecordFile);
}

// Looks through the desktop entries below |folder| (at most |depth| levels of
// sub-folders) for one that is not safe to read. More names than |budget| allows count
// as unsafe too, so that nothing is left unchecked.
bool EntriesSafeToRead(const std::string& folder, int depth, int* budget,
                       std::string* offender) {
  GDirPtr dir(g_dir_open(folder.c_str(), 0, nullptr));
  if (!dir) return true;
  while (const gchar* name = g_dir_read_name(dir.get())) {
    const std::string path = folder + "/" + name;
    if (--*budget < 0 || (g_str_has_suffix(name, ".desktop") && !SafeToRead(path))) {
      *offender = path;
      return false;
    }
    if (depth > 0 && IsDirectory(path) &&
        !EntriesSafeToRead(path, depth - 1, budget, offender))
      return false;
  }
  return true;
}

// GIO and its MIME database open their files with blocking reads and read them whole:
// a FIFO or a device in their place would stall the program for good. Every file they
// may read for a default application is checked first; |offender| names the first one
// that is not safe.
bool DesktopRecordsSafeToRead(std::string* offender) {
  std::vector<std::string> config = FolderList("XDG_CONFIG_DIRS", "/etc/xdg");
  config.insert(config.begin(), ConfigHome());
  std::vector<std::string> data = FolderList("XDG_DATA_DIRS", "/usr/local/share:/usr/share");
  data.insert(data.begin(), DataHome());
  std::vector<std::string> lists = {"mimeapps.list"};
  if (const char* desktops = std::getenv("XDG_CURRENT_DESKTOP")) {
    GStrvPtr names(g_strsplit(desktops, ":", -1));
    for (gchar** n = names.get(); *n != nullptr; ++n) {
      if (**n == '\0') continue;
      GCharPtr lower(g_ascii_strdown(*n, -1));
      lists.push_back(std::string(lower.get()) + "-mimeapps.list");
    }
  }
  std::vector<std::string> files;
  for (const std::string& folder : config)
    for (const std::string& list : lists) files.push_back(folder + "/" + list);
  int budget = 50000;
  for (const std::string& folder : data) {
    const std::string applications = folder + "/applications";
    for (const std::string& list : lists) files.push_back(applications + "/" + list);
    files.push_back(applications + "/defaults.list");
    files.push_back(applications + "/mimeinfo.cache");
    for (const char* name : {"mime.cache", "globs2", "globs", "magic", "aliases", "subclasses",
                             "icons", "generic-icons", "XMLnamespaces", "types"})
      files.push_back(folder + "/mime/" + name);
    if (!EntriesSafeToRead(applications, 8, &budget, offender)) return false;
  }
  for (const std::string& file : files) {
    if (!SafeToRead(file)) {
      *offender = file;
      return false;
    }
  }
  return true;
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
    return MakeFolders(path.substr(0, slash)) && ReplaceFileContents(path, text).ok();
  }

  bool FindDefaultHandler(const std::string& extension, FileHandler* out) override {
    if (out == nullptr || extension.empty() || extension.find('/') != std::string::npos)
      return false;
    std::string offender;
    if (!DesktopRecordsSafeToRead(&offender)) {
      static bool told = false;
      if (!std::exchange(told, true))
        std::fprintf(stderr, "lumora: not looking up the application for %s files: %s is not "
                   "a regular file of a sane size\n",
                     extension.c_str(), offender.c_str());
      return false;
    }
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
