#include "platform/headless/chosen_path.h"

#include <sys/stat.h>

namespace platform {

base::Status CheckChosenPath(const std::string& path) {
  if (path.empty() || path[0] != '/')
    return base::Status::Invalid("not an absolute path: \"" + path + "\"");
  if (path.find('\0') != std::string::npos)
    return base::Status::Invalid("a path holds a zero byte");
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return base::Status::NotFound("no such file: \"" + path + "\"");
  if (S_ISDIR(st.st_mode))
    return base::Status::NotRegular("a folder, not a file: \"" + path + "\"");
  return base::Status::Ok();
}

}  // namespace platform
