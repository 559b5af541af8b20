// Opens documents, programs and URLs with the desktop's default applications.
#ifndef LUMORA_PLATFORM_GTK_GTK_SHELL_H_
#define LUMORA_PLATFORM_GTK_GTK_SHELL_H_

#include "platform/shell.h"

namespace platform {

class GtkShell : public Shell {
 public:
  void Open(const std::string& target, const std::string& parameters) override;
};

}  // namespace platform

#endif  // LUMORA_PLATFORM_GTK_GTK_SHELL_H_
