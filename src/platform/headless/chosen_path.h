// Paths that the automation interface hands in as chosen or dropped files. The desktop
// can only ever deliver the full path of a file that exists, so the same holds here.
#ifndef LUMORA_PLATFORM_HEADLESS_CHOSEN_PATH_H_
#define LUMORA_PLATFORM_HEADLESS_CHOSEN_PATH_H_

#include <string>

#include "base/status.h"

namespace platform {

// OK when |path| is the absolute path of an existing file that is not a folder;
// otherwise why it is refused (Invalid for a relative path or a zero byte, NotFound,
// NotRegular for a folder). A relative path is refused, not taken against some folder:
// the caller says which file it means.
base::Status CheckChosenPath(const std::string& path);

}  // namespace platform

#endif  // LUMORA_PLATFORM_HEADLESS_CHOSEN_PATH_H_
