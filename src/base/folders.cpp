#include "base/folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace base {

namespace {

// $|variable| when it holds an absolute path, else the home folder + |fallback|.
std::string XdgFolder(const char* variable, const char* fallback) {
  const char* xdg = std::getenv(variable);
  if (xdg != nullptr && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  std::string base;
  if (home != nullptr && home[0] == '/') {
    base = home;
  } else if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir) {
    base = pw->pw_dir;
  } else {
    base = "/tmp";
  }
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return (base == "/" ? "" : base) + fallback;
}

}  // namespace

std::string DataHome() { return XdgFolder("XDG_DATA_HOME", "/.local/share"); }

std::string ConfigHome() { return XdgFolder("XDG_CONFIG_HOME", "/.config"); }

std::string CurrentDirectory() {
  std::vector<char> buffer(4096);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (buffer.size() > (1u << 20)) return "/";
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

std::string ProgramFile() {
  std::vector<char> buffer(4096);
  ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return {};
  return std::string(buffer.data(), static_cast<std::size_t>(n));
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

Status MakeDirectory(const std::string& path) {
  if (IsDirectory(path) || mkdir(path.c_str(), 0777) == 0) return Status::Ok();
  return PosixError(path, errno);
}

Status MakeDirectories(const std::string& path, mode_t mode) {
  if (Status made = MakeMissingFolders(path, mode); !made.ok()) return made;
  return IsDirectory(path) ? Status::Ok() : PosixError(path, ENOTDIR);
}

Status MakeFolder(const std::string& path, mode_t mode) {
  if (mkdir(path.c_str(), mode) == 0 || errno == EEXIST) return Status::Ok();
  return PosixError(path, errno);
}

Status MakeMissingFolders(const std::string& path, mode_t mode, std::vector<std::string>* made) {
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    struct stat st;
    if (!part.empty() && lstat(part.c_str(), &st) != 0) {
      if (mkdir(part.c_str(), mode) == 0) {
        if (made != nullptr) made->push_back(part);
      } else if (errno != EEXIST) {
        return PosixError(part, errno);
      }
    }
    if (slash == std::string::npos) break;
  }
  return Status::Ok();
}

void RemoveEmptyFolders(const std::vector<std::string>& made) {
  // A folder that is not empty any more stays.
  for (auto it = made.rbegin(); it != made.rend(); ++it) (void)rmdir(it->c_str());
}

bool IsSystemProgramFolder(const std::string& folder) {
  const auto within = [&folder](const std::string& base) {
    return folder == base || folder.starts_with(base + "/");
  };
  return within("/usr") && !within("/usr/local");
}

}  // namespace base
