#include "platform/headless/chosen_path.h"

#include <sys/stat.h>

namespace platform {

Status CheckChosenPath(const std::string& path) {
  if (path.empty() || path[0] != '/')
    return Status::Invalid("not an absolute path: \"" + path + "\"");
  if (path.find('\0') != std::string::npos) return Status::Invalid("a path holds a zero byte");
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return Status::NotFound("no such file: \"" + path + "\"");
  if (S_ISDIR(st.st_mode)) return Status::NotRegular("a folder, not a file: \"" + path + "\"");
  return Status::Ok();
}

}  // namespace platform
