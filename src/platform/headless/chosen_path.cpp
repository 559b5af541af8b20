#include "platform/headless/chosen_path.h"

#include <sys/stat.h>

namespace platform {

std::string CheckChosenPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return "not an absolute path: \"" + path + "\"";
  if (path.find('\0') != std::string::npos) return "a path holds a zero byte";
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return "no such file: \"" + path + "\"";
  if (S_ISDIR(st.st_mode)) return "a folder, not a file: \"" + path + "\"";
  return {};
}

}  // namespace platform
