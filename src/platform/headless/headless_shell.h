// The shell without a desktop: reports what would be opened or started, and how, and
// launches nothing.
#ifndef LUMORA_PLATFORM_HEADLESS_HEADLESS_SHELL_H_
#define LUMORA_PLATFORM_HEADLESS_HEADLESS_SHELL_H_

#include "os/shell_action.h"
#include "platform/headless/automation_channel.h"
#include "platform/shell.h"

namespace platform {

class HeadlessShell : public Shell {
 public:
  explicit HeadlessShell(AutomationChannel& channel) : channel_(channel) {}
  void Open(const std::string& target, const std::string& parameters) override {
    // The action is decided as the desktop decides it: "run" for a program started
    // with its parameters, "open" for what goes to the desktop's application.
    const char* action = os::ShellActionName(os::ResolveShellTarget(target).action);
    channel_.Emit(AutomationChannel::Json{
        {"shell", {{"target", target}, {"parameters", parameters}, {"action", action}}}});
  }

 private:
  AutomationChannel& channel_;
};

}  // namespace platform

#endif  // LUMORA_PLATFORM_HEADLESS_HEADLESS_SHELL_H_
