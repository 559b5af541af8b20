#include "platform/gtk/paint_mode.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

namespace platform {

bool HasGpuRenderNode(const std::string& dri_dir) {
  std::error_code error;
  std::filesystem::directory_iterator it(dri_dir, error);
  for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    if (it->path().filename().string().rfind("renderD", 0) != 0) continue;
    // A render node is a character device; a file of that name is none.
    struct stat st {};
    if (stat(it->path().c_str(), &st) == 0 && S_ISCHR(st.st_mode)) return true;
  }
  return false;
}

}  // namespace platform
