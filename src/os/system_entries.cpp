#include "os/system_entries.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "base/files.h"
#include "base/folders.h"

namespace os {
namespace {

// Characters that make an Exec argument need quotation marks.
constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#`()";

// A value of a desktop entry with the string escapes of the format applied.
std::string EscapeValue(std::string_view value) {
  std::string out;
  for (char c : value) {
    if (c == '\\')
      out += "\\\\";
    else
      out += c;
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
base::Status MakeFolders(const std::string& folder) {
  if (base::Status made = base::MakeDirectories(folder, 0700); !made.ok()) return made;
  if (!base::IsDirectory(folder)) return base::Status::NotRegular(folder + " is not a folder");
  return base::Status::Ok();
}

// Fails when |folder| is read-only: no write permission for anyone, which holds even
// for a user (such as root) whom the system would let write there anyway.
base::Status RefuseReadOnlyFolder(const std::string& folder) {
  struct stat st;
  if (stat(folder.c_str(), &st) != 0) return base::PosixError(folder, errno);
  if ((st.st_mode & 0222) == 0) return base::Status::IoError(folder + ": the folder is read-only");
  return base::Status::Ok();
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

// The refusal of a record that is not safe to read.
base::Status Unsafe(const std::string& path) {
  return base::Status::NotRegular(path + " is not a regular file of a sane size");
}

// Looks through the desktop entries below |folder| (at most |depth| levels of
// sub-folders) for one that is not safe to read. More names than |budget| allows count
// as unsafe too, so that nothing is left unchecked.
base::Status EntriesSafeToRead(const std::string& folder, int depth, int* budget) {
  g_autoptr(GDir) dir = g_dir_open(folder.c_str(), 0, nullptr);
  if (!dir) return base::Status::Ok();
  while (const gchar* name = g_dir_read_name(dir)) {
    const std::string path = folder + "/" + name;
    if (--*budget < 0 || (g_str_has_suffix(name, ".desktop") && !SafeToRead(path)))
      return Unsafe(path);
    if (depth > 0 && base::IsDirectory(path)) {
      if (base::Status s = EntriesSafeToRead(path, depth - 1, budget); !s.ok()) return s;
    }
  }
  return base::Status::Ok();
}

// GIO and its MIME database open their files with blocking reads and read them whole:
// a FIFO or a device in their place would stall the program for good. Every file they
// may read for a default application is checked first; a failure names the first one
// that is not safe.
base::Status DesktopRecordsSafeToRead() {
  std::vector<std::string> config = FolderList("XDG_CONFIG_DIRS", "/etc/xdg");
  config.insert(config.begin(), base::ConfigHome());
  std::vector<std::string> data = FolderList("XDG_DATA_DIRS", "/usr/local/share:/usr/share");
  data.insert(data.begin(), base::DataHome());
  std::vector<std::string> lists = {"mimeapps.list"};
  if (const char* desktops = std::getenv("XDG_CURRENT_DESKTOP")) {
    g_auto(GStrv) names = g_strsplit(desktops, ":", -1);
    for (gchar** n = names; *n != nullptr; ++n) {
      if (**n == '\0') continue;
      g_autofree gchar* lower = g_ascii_strdown(*n, -1);
      lists.push_back(std::string(lower) + "-mimeapps.list");
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
    if (base::Status s = EntriesSafeToRead(applications, 8, &budget); !s.ok()) return s;
  }
  for (const std::string& file : files) {
    if (!SafeToRead(file)) return Unsafe(file);
  }
  return base::Status::Ok();
}

class XdgEntries : public SystemEntries {
 public:
  base::Status SetAutostart(bool enable, const std::string& program) override {
    const std::string path = AutostartEntryPath();
    const std::string folder = path.substr(0, path.rfind('/'));
    if (!enable) {
      // Only an entry of the program's name goes; a folder of that name stays.
      struct stat st;
      if (lstat(path.c_str(), &st) != 0)
        return errno == ENOENT ? base::Status::Ok() : base::PosixError(path, errno);
      if (S_ISDIR(st.st_mode)) return base::Status::NotRegular(path + " is a folder");
      if (base::Status s = RefuseReadOnlyFolder(folder); !s.ok()) return s;
      if (unlink(path.c_str()) != 0) return base::PosixError(path, errno);
      return base::Status::Ok();
    }
    const std::string text = AutostartEntryText(program);
    if (text.empty())
      return base::Status::Invalid("not an absolute UTF-8 path a desktop entry can name: " +
                                   program);
    if (base::Status s = MakeFolders(folder); !s.ok()) return s;
    // An entry that already says this is left as it is.
    std::string old;
    if (base::ReadRegularFile(path, text.size(), &old).ok() && old == text)
      return base::Status::Ok();
    if (base::Status s = RefuseReadOnlyFolder(folder); !s.ok()) return s;
    // Invalid names the program's path alone: a file that cannot be written (a
    // read-only entry among them) is an input or output failure here.
    base::Status written = base::ReplaceFileContents(path, text);
    if (written.code() == base::Status::Code::kInvalid)
      return base::Status::IoError(written.message());
    return written;
  }

  base::Status FindDefaultHandler(const std::string& extension, FileHandler* out) override {
    if (out == nullptr || extension.empty() || extension.find('/') != std::string::npos)
      return base::Status::Invalid("not a file name ending: " + extension);
    if (base::Status safe = DesktopRecordsSafeToRead(); !safe.ok()) {
      static bool told = false;
      if (!std::exchange(told, true))
        std::fprintf(stderr, "lumora: not looking up the application for %s files: %s\n",
                     extension.c_str(), safe.message().c_str());
      return safe;
    }
    // The type of a file name with that ending, by the globs of the MIME database. Only
    // a certain answer names it: when packages give the name types of their own, the
    // guess is one of them, and another package's application is not the shelf's.
    const std::string name = "document" + extension;
    gboolean uncertain = FALSE;
    g_autofree gchar* type = g_content_type_guess(name.c_str(), nullptr, 0, &uncertain);
    if (type == nullptr || uncertain || g_content_type_is_unknown(type))
      return base::Status::NotFound("no certain type of document for " + name);
    g_autoptr(GAppInfo) app = g_app_info_get_default_for_type(type, FALSE);
    if (!app) return base::Status::NotFound(std::string("no application for ") + type);
    const char* command = g_app_info_get_commandline(app);
    if (command == nullptr || command[0] == '\0')
      return base::Status::NotFound(std::string("no command line for ") + type);
    FileHandler found;
    found.command = command;
    if (G_IS_DESKTOP_APP_INFO(app)) {
      // The entry's own Icon value: a theme icon name or an icon file.
      g_autofree gchar* icon =
          g_desktop_app_info_get_string(G_DESKTOP_APP_INFO(app), G_KEY_FILE_DESKTOP_KEY_ICON);
      if (icon != nullptr) found.icon = icon;
    }
    *out = std::move(found);
    return base::Status::Ok();
  }
};

}  // namespace

SystemEntries& XdgSystemEntries() {
  static XdgEntries entries;
  return entries;
}

std::string AutostartEntryPath() {
  return base::ConfigHome() + "/autostart/" + kAutostartEntryName;
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
         "Exec=" +
         EscapeValue(QuoteExecArgument(program)) +
         "\n"
         "Path=" +
         EscapeValue(folder) +
         "\n"
         "Terminal=false\n";
}

}  // namespace os
