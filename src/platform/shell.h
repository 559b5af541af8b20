// Opening a document, a program or a URL the way the desktop does.
#ifndef LUMORA_PLATFORM_SHELL_H_
#define LUMORA_PLATFORM_SHELL_H_

#include <string>

namespace platform {

class Shell {
 public:
  virtual ~Shell() = default;
  // "open": a program (ResolveShellTarget, shell_action.h) is started directly with
  // |parameters| as its arguments, never through a shell; any other file, scripts
  // included, opens in its default application, a URL in the browser. The outcome is
  // not reported.
  virtual void Open(const std::string& target, const std::string& parameters) = 0;
};

}  // namespace platform

#endif  // LUMORA_PLATFORM_SHELL_H_
