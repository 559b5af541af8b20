// Opening a document, a program or a URL the way the desktop does.
#ifndef LUMORA_PLATFORM_SHELL_H_
#define LUMORA_PLATFORM_SHELL_H_

#include <string>

namespace platform {

class Shell {
 public:
  virtual ~Shell() = default;
  // "open": an executable file is started with |parameters|, any other file opens in
  // its default application, a URL in the browser. The outcome is not reported.
  virtual void Open(const std::string& target, const std::string& parameters) = 0;
};

}  // namespace platform

#endif  // LUMORA_PLATFORM_SHELL_H_
